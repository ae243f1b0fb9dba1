#pragma once
// The platform key code of a key press, as the console's key handler reads it: a letter key arrives
// as its capital's code whatever Shift and Caps Lock say, the keypad's digits with Num Lock on as
// 96 to 105 (so keypad 1, 2, 3 read as the codes of "a", "b", "c"), the main row's digits as 48 to
// 57. 0 for a key that has no such code.
class QKeyEvent;

int platformKeyCode(const QKeyEvent& event);
