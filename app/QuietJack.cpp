#include "QuietJack.h"

#include <juce_core/juce_core.h>

#if JUCE_LINUX || JUCE_BSD
#include <dlfcn.h>
#endif

namespace quietjack
{
    // clang-format off
   #if JUCE_LINUX || JUCE_BSD
    namespace
    {
        void dropMessage (const char*) {}

        using SetHandler = void (*) (void (*) (const char*));

        void install (void* library, const char* setterName)
        {
            if (auto* setter = reinterpret_cast<SetHandler> (dlsym (library, setterName)))
                setter (dropMessage);
        }
    }

    void silenceLibjack()
    {
        // The name the framework opens first, so both get the same library.
        // Never closed: the handlers must outlive every client the host opens.
        static void* const library = dlopen ("libjack.so.0", RTLD_LAZY);

        if (library == nullptr)
            return;

        install (library, "jack_set_error_function");
        install (library, "jack_set_info_function");
    }
   #else
    void silenceLibjack() {}
   #endif
    // clang-format on
}
