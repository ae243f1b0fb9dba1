#pragma once
// The desktop's sound server (PulseAudio, or PipeWire's PulseAudio service), spoken to directly:
// a stream of our own whose buffer is chosen on purpose, rewritten when a key changes what is
// heard (PulseOutput.cpp says how and why).
//
// Threads: every function here on the engine's start-up or worker thread (listing: the
// user-interface thread at start-up); each waits at most a few seconds for a server that does not
// answer. The stream then runs the callback on a thread of its own, at real-time priority where
// allowed.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/output/OutputBackend.h"
#include "audio/output/OutputDevices.h"

// The rate of the server's default sink (or of the sink of that name), or 0 (and why in error) when no
// server answers or it has no such sink.
int soundServerRate(std::string& error, const std::string& sink = "@DEFAULT_SINK@");
// Opens and starts a stream on the server's default sink (or the sink of that name) at rate, its
// thread at real-time priority where allowed; nullptr (and why in error) when it cannot.
// beforeStart as for openPortAudio (PortAudioOutput.h).
std::unique_ptr<OutputBackend> openSoundServer(OutputSource& source, int rate, int framesPerBuffer,
                                               std::string& error,
                                               const std::function<void()>& beforeStart = {},
                                               const std::string& sink = {});
// The server's sinks (host API "PulseAudio"); none when no server answers.
std::vector<OutputDevice> listServerSinks();
