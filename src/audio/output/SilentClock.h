#pragma once
// The silent clock: a thread that runs the engine's callback in real time and throws the sound
// away, so that the console works and positions go on where there is no output (a machine without
// a sound card, CI, a device that went away).
//
// Threads: started and stopped on the engine's start-up or worker thread; the callback then runs
// on the clock's own thread.
#include <memory>

#include "audio/output/OutputBackend.h"

std::unique_ptr<OutputBackend> startSilentClock(OutputSource& source, int rate, int framesPerBuffer);
