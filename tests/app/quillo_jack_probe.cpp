// A JACK client that feeds a constant level into both inputs of another client
// and records both of its outputs, so a test can read the gain it applies.
//
//   quillo_jack_probe <client> <level> <settle seconds> <record seconds> <output file>
//
// The output file holds interleaved little-endian float32 frames (left, right)
// of what <client>:out_1 and <client>:out_2 produced. Exit status 0 on success.

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace
{
    struct Probe
    {
        jack_port_t* send[2] {};
        jack_port_t* receive[2] {};
        float level = 0.5f;
        std::vector<float> recording;   // interleaved, sized before activation
        std::atomic<size_t> framesToSkip { 0 };
        std::atomic<size_t> framesRecorded { 0 };
        std::atomic<bool> connected { false };
    };

    int process (jack_nframes_t numFrames, void* arg)
    {
        auto& probe = *static_cast<Probe*> (arg);

        for (auto* port : probe.send)
        {
            auto* out = static_cast<float*> (jack_port_get_buffer (port, numFrames));

            for (jack_nframes_t i = 0; i < numFrames; ++i)
                out[i] = probe.level;
        }

        if (! probe.connected.load())
            return 0;

        const auto* left = static_cast<const float*> (jack_port_get_buffer (probe.receive[0], numFrames));
        const auto* right = static_cast<const float*> (jack_port_get_buffer (probe.receive[1], numFrames));
        const auto capacity = probe.recording.size() / 2;

        for (jack_nframes_t i = 0; i < numFrames; ++i)
        {
            if (probe.framesToSkip.load() > 0)
            {
                probe.framesToSkip.fetch_sub (1);
                continue;
            }

            const auto frame = probe.framesRecorded.load();

            if (frame >= capacity)
                break;

            probe.recording[2 * frame] = left[i];
            probe.recording[2 * frame + 1] = right[i];
            probe.framesRecorded.store (frame + 1);
        }

        return 0;
    }

    bool portExists (jack_client_t* client, const std::string& name)
    {
        return jack_port_by_name (client, name.c_str()) != nullptr;
    }

    // Leaves exactly one connection into each of the target's inputs: ours.
    void disconnectOthers (jack_client_t* client, const std::string& targetInput, const std::string& ours)
    {
        auto* port = jack_port_by_name (client, targetInput.c_str());

        if (port == nullptr)
            return;

        if (const char** sources = jack_port_get_all_connections (client, port))
        {
            for (auto** s = sources; *s != nullptr; ++s)
                if (ours != *s)
                    jack_disconnect (client, *s, targetInput.c_str());

            jack_free (sources);
        }
    }
}

int main (int argc, char** argv)
{
    if (argc != 6)
    {
        std::fprintf (stderr, "usage: %s <client> <level> <settle s> <record s> <output file>\n", argv[0]);
        return 2;
    }

    const std::string target = argv[1];
    Probe probe;
    probe.level = std::strtof (argv[2], nullptr);
    const auto settleSeconds = std::strtod (argv[3], nullptr);
    const auto recordSeconds = std::strtod (argv[4], nullptr);
    const std::string outputPath = argv[5];

    jack_status_t status {};
    auto* client = jack_client_open ("quillo_probe", JackNoStartServer, &status);

    if (client == nullptr)
    {
        std::fprintf (stderr, "probe: cannot reach the JACK server (status 0x%x)\n", (unsigned) status);
        return 1;
    }

    const auto sampleRate = jack_get_sample_rate (client);
    probe.recording.assign (2 * (size_t) (recordSeconds * sampleRate), 0.0f);
    probe.framesToSkip = (size_t) (settleSeconds * sampleRate);

    const char* names[2] = { "left", "right" };

    for (int c = 0; c < 2; ++c)
    {
        probe.send[c] = jack_port_register (client, (std::string ("send_") + names[c]).c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        probe.receive[c] = jack_port_register (client, (std::string ("receive_") + names[c]).c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
    }

    jack_set_process_callback (client, process, &probe);

    if (jack_activate (client) != 0)
    {
        std::fprintf (stderr, "probe: cannot activate\n");
        jack_client_close (client);
        return 1;
    }

    // The target registers its ports once its audio device is open.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (20);

    while (! (portExists (client, target + ":in_2") && portExists (client, target + ":out_2")))
    {
        if (std::chrono::steady_clock::now() > deadline)
        {
            std::fprintf (stderr, "probe: no ports of client '%s'\n", target.c_str());
            jack_client_close (client);
            return 1;
        }

        std::this_thread::sleep_for (std::chrono::milliseconds (20));
    }

    for (int c = 0; c < 2; ++c)
    {
        const auto input = target + ":in_" + std::to_string (c + 1);
        const auto output = target + ":out_" + std::to_string (c + 1);
        const std::string send = jack_port_name (probe.send[c]);

        disconnectOthers (client, input, send);

        if ((! jack_port_connected_to (probe.send[c], input.c_str()) && jack_connect (client, send.c_str(), input.c_str()) != 0)
            || (! jack_port_connected_to (probe.receive[c], output.c_str()) && jack_connect (client, output.c_str(), jack_port_name (probe.receive[c])) != 0))
        {
            std::fprintf (stderr, "probe: cannot connect to %s\n", target.c_str());
            jack_client_close (client);
            return 1;
        }
    }

    probe.connected = true;

    const auto frames = probe.recording.size() / 2;
    const auto recordDeadline = std::chrono::steady_clock::now()
                                + std::chrono::duration<double> (2.0 * (settleSeconds + recordSeconds) + 10.0);

    while (probe.framesRecorded.load() < frames)
    {
        if (std::chrono::steady_clock::now() > recordDeadline)
        {
            std::fprintf (stderr, "probe: audio stopped flowing\n");
            jack_client_close (client);
            return 1;
        }

        std::this_thread::sleep_for (std::chrono::milliseconds (20));
    }

    jack_deactivate (client);
    jack_client_close (client);

    auto* file = std::fopen (outputPath.c_str(), "wb");

    if (file == nullptr || std::fwrite (probe.recording.data(), sizeof (float), probe.recording.size(), file) != probe.recording.size())
    {
        std::fprintf (stderr, "probe: cannot write %s\n", outputPath.c_str());
        return 1;
    }

    std::fclose (file);
    std::printf ("%u\n", (unsigned) sampleRate);
    return 0;
}
