#pragma once
// Labels whose text changes (deck titles and times, the live deck, the clock) keep a fixed accessible
// name that says what they show ("Deck A remaining time") and expose their text through the text
// interface. A screen reader can read them at any time, and the name does not change, and so is not
// announced, twenty times a second.
#include <QString>

class QLabel;

// Gives the label the text-exposing accessibility interface. Call before the label is first shown.
void exposeShownText(QLabel* label);

// Tells assistive technology that the label's text changed from oldText: for the one label whose
// change an operator wants announced (the live deck).
void announceShownText(QLabel* label, const QString& oldText);
