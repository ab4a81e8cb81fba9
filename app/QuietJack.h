#pragma once

namespace quietjack
{
    /** Keeps libjack from writing its messages to standard error.

        The host looks for a JACK server at every start. With none running,
        libjack reports each failed connection attempt on standard error, before
        the framework has any say: the framework only sets its own (silent)
        handler once a client has opened. The library keeps one error handler
        and one information handler for the whole process, and the framework
        loads the same libjack.so.0 that this loads, so setting them here first
        silences the probe and everything after it.

        Call it on the message thread before the first audio device scan. It
        does nothing if libjack is not installed; the library stays loaded for
        the rest of the process, so the handlers stay in place. */
    void silenceLibjack();
}
