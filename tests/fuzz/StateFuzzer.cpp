// libFuzzer target: any bytes handed to setStateInformation must leave the
// processor with finite, in-range parameters, and a state that it reads back
// and writes again byte for byte.

#include "QuilloAudioProcessor.h"
#include "StateBlob.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace
{
    QuilloAudioProcessor& processor (int index)
    {
        // The parameter tree starts a timer, which needs a message manager; no loop runs.
        static auto* const messageManager = juce::MessageManager::getInstance();
        juce::ignoreUnused (messageManager);
        static QuilloAudioProcessor* const instances[] { new QuilloAudioProcessor(), new QuilloAudioProcessor() };
        return *instances[index];
    }

    void check (bool condition)
    {
        if (! condition)
            std::abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size);

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    auto& p = processor (0);
    p.setStateInformation (data, (int) juce::jmin (size, (std::size_t) std::numeric_limits<int>::max()));

    for (auto* parameter : p.getParameters())
    {
        const auto value = parameter->getValue();
        check (std::isfinite (value) && value >= 0.0f && value <= 1.0f);
    }

    for (auto* object : { &p.dryParameter, &p.wetParameter, &p.depthParameter, &p.rateParameter,
                          &p.smoothingParameter, &p.offsetLParameter, &p.offsetRParameter, &p.limitParameter })
        check (std::isfinite (object->getTargetValue()));

    juce::MemoryBlock written;
    p.getStateInformation (written);
    check (stateblob::read (written.getData(), (int) written.getSize(), "Quillo") != nullptr);

    auto& q = processor (1);
    q.setStateInformation (written.getData(), (int) written.getSize());
    juce::MemoryBlock writtenAgain;
    q.getStateInformation (writtenAgain);
    check (writtenAgain == written);
    return 0;
}
