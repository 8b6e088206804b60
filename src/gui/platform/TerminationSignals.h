// The signals that ask the program to end (SIGTERM; SIGINT, Ctrl+C in the terminal that
// started it; SIGHUP, that terminal closed or the session logging out) turned into a request
// that the frame loop reads, so that they end the program the way its window's close button
// does: the stream and recordings stop and the settings are saved. A signal that the
// program was started to ignore (nohup for SIGHUP) stays ignored.
//
// The handler itself only writes the signal's number into a pipe. A watcher thread reads
// it: the first signal is noted and `wake` runs (the loop may be waiting for events); a
// second one while the program closes is logged and ends the process at once with 128 +
// the signal's number, for a user who does not want to wait for the shutdown. Should even
// that thread be stuck, a third signal ends the process from within the handler.
//
// On Windows nothing is watched (there is no SIGHUP; a console control handler would go
// here) and Received stays empty.
//
// Contract: one watcher in a process at a time (signal dispositions are process-wide),
// made and destroyed on the main thread; Received may be read from any thread; `wake` runs
// on the watcher's thread and must not block. Destruction puts back the dispositions it
// found and joins the thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace orbel::studio::platform {

class ITerminationSignals {
public:
    virtual ~ITerminationSignals() = default;
    // The first signal received, by name ("SIGTERM"); empty while none has come.
    virtual std::string Received() const = 0;
};

std::unique_ptr<ITerminationSignals> WatchTerminationSignals(std::function<void()> wake);

}  // namespace orbel::studio::platform
