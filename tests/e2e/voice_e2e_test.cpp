// Voice calls between headless clients with file devices: the talker's microphone reads a
// speech-like signal with pauses, each listener's player writes what it plays to a file, and the
// file must hold, in order, exactly the decoded buffers of the talker's encoded sound.
#include <signal.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include <functional>
#include <string>

#include "tests/e2e/e2e_fixture.h"
#include "tests/e2e/voice_signal.h"
#include "tests/support/file_watch.h"
#include "tests/support/loopback.h"

namespace {
using namespace e2e;
using voicetest::expected_buffer;
using voicetest::kBuffer;

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kTalkBuffers = 24;  // sanitizer builds run slower: a shorter call
#else
constexpr int kTalkBuffers = 50;  // about ten seconds of speech with its pauses
#endif
constexpr int kSignalBuffers = 84;  // the capture file loops on a whole number of buffers

std::vector<uint8_t> read_wav(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    std::vector<uint8_t> bytes;
    if (!f) return bytes;
    bytes.resize(static_cast<size_t>(info.frames));
    sf_count_t got = sf_read_raw(f, bytes.data(), info.frames);
    bytes.resize(static_cast<size_t>(got < 0 ? 0 : got));
    sf_close(f);
    return bytes;
}

bool file_exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Checks that out is a run of whole buffers following the signal's buffers that `take` admits,
// in order, wrapping at the end of the file. Returns the number of buffers, or -1 (with the
// reason in *why).
int run_length(const std::vector<uint8_t>& out, const std::vector<expected_buffer>& exp,
               bool (*take)(const expected_buffer&), std::string* why) {
    std::vector<int> order;
    for (size_t i = 0; i < exp.size(); i++)
        if (take(exp[i])) order.push_back(static_cast<int>(i));
    if (out.size() % kBuffer != 0) {
        *why = "output is not whole buffers: " + std::to_string(out.size());
        return -1;
    }
    int n = static_cast<int>(out.size() / kBuffer);
    if (n == 0) return 0;
    auto chunk = [&](int k) {
        return std::vector<uint8_t>(out.begin() + k * kBuffer, out.begin() + (k + 1) * kBuffer);
    };
    int start = -1;
    for (size_t j = 0; j < order.size() && start < 0; j++)
        if (exp[static_cast<size_t>(order[j])].played == chunk(0)) start = static_cast<int>(j);
    if (start < 0) {
        *why = "first buffer is none of the talker's";
        return -1;
    }
    for (int k = 1; k < n; k++) {
        int want = order[static_cast<size_t>((start + k) % static_cast<int>(order.size()))];
        if (exp[static_cast<size_t>(want)].played != chunk(k)) {
            *why = "buffer " + std::to_string(k) + " is not signal buffer " + std::to_string(want);
            return -1;
        }
    }
    return n;
}

class VoiceE2E : public e2e_fixture {
protected:
    void write_signal() {
        std::vector<uint8_t> s = voicetest::speech_like(kSignalBuffers);
        m_expected = voicetest::expected_buffers(s);
        m_signal_path = m_dir + "/talk.wav";
        SF_INFO info{};
        info.samplerate = 8000;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_U8;
        SNDFILE* f = sf_open(m_signal_path.c_str(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr);
        sf_write_raw(f, s.data(), static_cast<sf_count_t>(s.size()));
        sf_close(f);
    }
    // The talker sends the file's samples as they are, so the listener's output can be compared
    // with the codec's results byte for byte.
    std::vector<std::string> talker_flags() {
        return {"--audio-backend", "wav", "--audio-in", m_signal_path, "--echo-cancel", "off",
                "--noise-suppression", "off", "--auto-gain", "off"};
    }
    std::vector<std::string> listener_flags(const std::string& name) {
        std::string out = m_dir + "/" + name + "-out";
        mkdir(out.c_str(), 0755);
        return {"--audio-backend", "wav", "--audio-out", out};
    }
    std::string output_of(const std::string& name, int talker_id) {
        return m_dir + "/" + name + "-out/peer_" + std::to_string(talker_id) + ".wav";
    }
    // One counter of the client's audio-stats answer.
    static int stat(child_process& c, const std::string& key) {
        c.write_line("audio-stats");
        return json_int(c.wait_line({"\"audio_stats\":\"voice\""}), key);
    }
    // Waits (at most 60 s) for a report of the client's counters that satisfies done: the
    // client prints them again whenever they move. Returns that report, or an empty text.
    static std::string wait_stats(child_process& c, const std::function<bool(const std::string&)>& done) {
        size_t from = c.line_count();          // reports from before this call are out of date
        c.write_line("audio-stats watch on");  // reports them now and whenever they move
        return c.wait_line_if(
            [&done](const std::string& l) {
                return l.find("\"audio_stats\":\"watch\"") != std::string::npos && done(l);
            },
            60000, from);
    }
    // Waits until a counter reaches at least n; returns its value then (or as it stands).
    static int wait_stat(child_process& c, const std::string& key, int n) {
        std::string l = wait_stats(c, [&](const std::string& s) { return json_int(s, key) >= n; });
        return l.empty() ? stat(c, key) : json_int(l, key);
    }
    // Waits until the listener's players wrote every buffer queued for them and the devices gave
    // each back, so the file holds them all.
    std::vector<uint8_t> settled_output(child_process& c, const std::string& path) {
        // Settled: every buffer received was queued or dropped, and every queued one played out
        // (a buffer still being decoded is neither yet).
        std::string l = wait_stats(c, [](const std::string& s) {
            int played = json_int(s, "played");
            return played == json_int(s, "queued") && played == json_int(s, "finished") &&
                   json_int(s, "received_data") == json_int(s, "queued") + json_int(s, "dropped");
        });
        EXPECT_FALSE(l.empty()) << "the players did not settle";
        int played = json_int(l, "played");
        std::vector<uint8_t> out = read_wav(path);
        EXPECT_EQ(out.size(), static_cast<size_t>(played) * kBuffer);
        return out;
    }
    std::vector<expected_buffer> m_expected;
    std::string m_signal_path;
};

bool any_active(const expected_buffer& e) {
    return e.active;
}
bool fits_relay(const expected_buffer& e) {
    return e.active && e.message_length <= 1200;
}

TEST_F(VoiceE2E, CallDeliversTheDecodedSoundInOrderToEveryListener) {
    write_signal();
    start_server(testsupport::loopback_host(1));
    child_process& ann = client(testsupport::loopback_host(1), testsupport::loopback_host(2), "ann", talker_flags());
    child_process& bob = client(testsupport::loopback_host(1), testsupport::loopback_host(3), "bob", listener_flags("bob"));
    child_process& cat = client(testsupport::loopback_host(1), testsupport::loopback_host(4), "cat", listener_flags("cat"));
    int ann_id = register_and_login(ann, "ann@example.org", "ann");
    int bob_id = register_and_login(bob, "bob@example.org", "bob");
    int cat_id = register_and_login(cat, "cat@example.org", "cat");
    befriend(ann, ann_id, bob, bob_id, "bob@example.org");
    befriend(ann, ann_id, cat, cat_id, "cat@example.org");
    const std::string ann_s = std::to_string(ann_id);

    // Bob's chat session is open with his peer-audio off: what arrives is not played.
    bob.write_line("listen " + ann_s + " off");
    ASSERT_FALSE(bob.wait_line({"\"ok\":\"listen\""}).empty());
    cat.write_line("listen " + ann_s + " on");
    ASSERT_FALSE(cat.wait_line({"\"ok\":\"listen\""}).empty());
    ann.write_line("talk " + std::to_string(bob_id) + " on");
    ASSERT_FALSE(ann.wait_line({"\"ok\":\"talk\""}).empty());
    ASSERT_GE(wait_stat(bob, "received_data", 10), 10);
    EXPECT_EQ(stat(bob, "queued"), 0);
    EXPECT_FALSE(file_exists(output_of("bob", ann_id))) << "nothing is written with peer-audio off";

    // Both listen now; Ann talks to both for about ten seconds.
    bob.write_line("listen " + ann_s + " on");
    ASSERT_FALSE(bob.wait_line({"\"ok\":\"listen\"", "\"peer_audio\":true"}).empty());
    ann.write_line("talk " + std::to_string(cat_id) + " on");
    // Level samples reach the front end while sound flows, when asked for.
    bob.write_line("levels on");
    EXPECT_FALSE(bob.wait_line({"\"event\":\"peer_level\"", "\"peer\":" + ann_s}).empty());
    bob.write_line("levels off");
    ann.write_line("levels on");
    EXPECT_FALSE(ann.wait_line({"\"event\":\"mic_level\"", "\"peer\":" + std::to_string(cat_id)}).empty());
    ann.write_line("levels off");
    ASSERT_GE(wait_stat(cat, "queued", kTalkBuffers), kTalkBuffers);
    EXPECT_FALSE(bob.wait_line({"\"event\":\"player_started\"", "\"peer\":" + ann_s}).empty());
    ann.write_line("talk " + std::to_string(bob_id) + " off");
    ann.write_line("talk " + std::to_string(cat_id) + " off");
    EXPECT_FALSE(bob.wait_line({"\"event\":\"player_stopped\"", "\"peer\":" + ann_s}).empty());

    std::vector<uint8_t> bob_out = settled_output(bob, output_of("bob", ann_id));
    std::vector<uint8_t> cat_out = settled_output(cat, output_of("cat", ann_id));
    std::string why;
    int bob_n = run_length(bob_out, m_expected, any_active, &why);
    EXPECT_GE(bob_n, kTalkBuffers) << why;
    int cat_n = run_length(cat_out, m_expected, any_active, &why);
    EXPECT_GE(cat_n, kTalkBuffers) << why;
    // The pauses came as silence notices, not as sound.
    EXPECT_GT(stat(bob, "received_silence"), 0);
    EXPECT_EQ(stat(bob, "dropped"), stat(bob, "received_data") - stat(bob, "queued"));

    // Cat started listening later: from his first buffer on, both files hold the same bytes.
    ASSERT_GE(cat_out.size(), static_cast<size_t>(kBuffer));
    size_t at = std::string::npos;
    for (size_t k = 0; k + kBuffer <= bob_out.size() && at == std::string::npos; k += kBuffer)
        if (std::equal(cat_out.begin(), cat_out.begin() + kBuffer,
                       bob_out.begin() + static_cast<long>(k)))
            at = k;
    ASSERT_NE(at, std::string::npos) << "cat's first buffer never reached bob";
    size_t common = std::min(cat_out.size(), bob_out.size() - at);
    EXPECT_GE(common, static_cast<size_t>(kTalkBuffers - 4) * kBuffer);
    EXPECT_TRUE(std::equal(cat_out.begin(), cat_out.begin() + static_cast<long>(common),
                           bob_out.begin() + static_cast<long>(at)));
}

TEST_F(VoiceE2E, ThroughARelayEveryBufferThatFitsArrivesAndTheOthersAreCounted) {
    write_signal();
    start_server(testsupport::loopback_host(1), {"--relay-port", "7098"});
    // Neither can reach the other directly; their own relays cannot be announced.
    std::vector<std::string> a = talker_flags(), b = listener_flags("bob");
    for (auto* flags : {&a, &b})
        flags->insert(flags->end(), {"--no-peer-listener", "--relay-ports", "19080,19443,19199"});
    child_process& ann = client(testsupport::loopback_host(1), testsupport::loopback_host(2), "ann", a);
    child_process& bob = client(testsupport::loopback_host(1), testsupport::loopback_host(3), "bob", b);
    int ann_id = register_and_login(ann, "ann@example.org", "ann");
    int bob_id = register_and_login(bob, "bob@example.org", "bob");
    befriend(ann, ann_id, bob, bob_id, "bob@example.org");

    // Wait for Ann's route to Bob: a chat line that arrives through the relay.
    bool routed = !send_until_relayed(ann, bob_id, bob, "route").empty();
    ASSERT_TRUE(routed) << "no relay route from ann to bob";

    bob.write_line("listen " + std::to_string(ann_id) + " on");
    ASSERT_FALSE(bob.wait_line({"\"ok\":\"listen\""}).empty());
    ann.write_line("talk " + std::to_string(bob_id) + " on");
    ASSERT_GE(wait_stat(ann, "sent_data", kTalkBuffers), kTalkBuffers);
    ann.write_line("talk " + std::to_string(bob_id) + " off");
    ASSERT_FALSE(ann.wait_line({"\"ok\":\"talk\"", "\"my_audio\":false"}).empty());

    int sent = stat(ann, "sent_data"), refused = stat(ann, "relay_refused"),
        failed = stat(ann, "relay_failed");
    EXPECT_GT(refused, 0) << "the signal has buffers too large for the relay";
    EXPECT_EQ(stat(ann, "relayed"), sent - refused - failed);
    EXPECT_EQ(wait_stat(bob, "received_data", sent - refused - failed), sent - refused - failed);
    std::vector<uint8_t> out = settled_output(bob, output_of("bob", ann_id));
    std::string why;
    int n = run_length(out, m_expected, fits_relay, &why);
    EXPECT_EQ(n, sent - refused - failed) << why;
}

TEST_F(VoiceE2E, AStoppedListenerHoldsUpNobodyAndIsClosedAfterTheSilenceLimit) {
    write_signal();
    start_server(testsupport::loopback_host(1));
    // Ann also sends her pattern camera's pictures to both: the stopped one must not hold up the
    // other's video either.
    std::vector<std::string> ann_flags = talker_flags();
    ann_flags.insert(ann_flags.end(), {"--video-in", "pattern"});
    child_process& ann = client(testsupport::loopback_host(1), testsupport::loopback_host(2), "ann", ann_flags);
    child_process& bob = client(testsupport::loopback_host(1), testsupport::loopback_host(3), "bob", listener_flags("bob"));
    child_process& cat = client(testsupport::loopback_host(1), testsupport::loopback_host(4), "cat", listener_flags("cat"));
    int ann_id = register_and_login(ann, "ann@example.org", "ann");
    int bob_id = register_and_login(bob, "bob@example.org", "bob");
    int cat_id = register_and_login(cat, "cat@example.org", "cat");
    befriend(ann, ann_id, bob, bob_id, "bob@example.org");
    befriend(ann, ann_id, cat, cat_id, "cat@example.org");
    const std::string ann_s = std::to_string(ann_id);
    for (child_process* c : {&bob, &cat}) {
        c->write_line("listen " + ann_s + " on");
        ASSERT_FALSE(c->wait_line({"\"ok\":\"listen\""}).empty());
    }
    ann.write_line("talk " + std::to_string(bob_id) + " on");
    ann.write_line("talk " + std::to_string(cat_id) + " on");
    for (int id : {bob_id, cat_id}) {
        ann.write_line("video " + std::to_string(id) + " on");
        ASSERT_FALSE(ann.wait_line({"\"ok\":\"video\"", "\"capturing\":true"}).empty());
    }
    const std::vector<std::string> picture{"\"event\":\"video_frame\"", "\"peer\":" + ann_s};
    for (child_process* c : {&bob, &cat}) {
        c->write_line("watch " + ann_s + " on");
        ASSERT_FALSE(c->wait_line(picture, 30000).empty());
    }
    ASSERT_GE(wait_stat(cat, "received_data", 5), 5);
    ASSERT_GE(wait_stat(bob, "received_data", 5), 5);

    // Cat's process hangs while its kernel keeps the connection up. Ann's keep-alive closes it
    // once it has been silent too long, and Bob hears every buffer and sees the pictures
    // meanwhile.
    ASSERT_EQ(kill(cat.pid(), SIGSTOP), 0);
    const size_t stopped_at = bob.line_count();
    const std::string ann_log = m_dir + "/ann/dbg_log.txt";
    auto closed = [&] {
        std::ifstream f(ann_log);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str().find("passes, closing") != std::string::npos;
    };
    // The keep-alive runs every 10 s and tolerates six silent passes: nothing announces the
    // close but the log, which is read again whenever Ann writes to it.
    EXPECT_TRUE(testsupport::wait_file(ann_log, closed, 150000))
        << "the stopped listener's connection was not closed";
    // Over the minute before the close Bob's pictures went on (ten a second are asked for; a
    // tenth of that would already show they were not held up behind Cat).
    int pictures = 0;
    {
        std::vector<std::string> lines = bob.lines();
        for (size_t i = stopped_at; i < lines.size(); i++)
            pictures += lines[i].find(picture[0]) != std::string::npos &&
                        lines[i].find(picture[1]) != std::string::npos;
    }
    EXPECT_GE(pictures, 60) << "Bob's pictures stopped while Cat was stopped";
    ann.write_line("talk " + std::to_string(bob_id) + " off");
    ann.write_line("talk " + std::to_string(cat_id) + " off");
    ASSERT_FALSE(ann.wait_line({"\"ok\":\"talk\"", "\"my_audio\":false"}).empty());
    ASSERT_EQ(kill(cat.pid(), SIGCONT), 0);
    cat.kill_now();

    std::vector<uint8_t> out = settled_output(bob, output_of("bob", ann_id));
    std::string why;
    int n = run_length(out, m_expected, any_active, &why);
    EXPECT_GT(n, 0) << why;
    EXPECT_EQ(stat(bob, "received_data") - stat(bob, "dropped"), stat(bob, "queued"));
    // The run above has no gap: no buffer was lost behind Cat's connection, over a minute of talk.
    EXPECT_GE(n, 200);
}


// The energy of a file's samples around silence.
double energy_of(const std::vector<uint8_t>& samples) {
    double e = 0;
    for (uint8_t v : samples) e += (v - 128.0) * (v - 128.0);
    return e;
}

TEST_F(VoiceE2E, InARoomTheListenersEchoCancellationKeepsTheTalkerFromHearingHerself) {
    write_signal();
    start_server(testsupport::loopback_host(1));
    std::vector<std::string> ann_flags = talker_flags();
    std::string ann_out = m_dir + "/ann-out";
    mkdir(ann_out.c_str(), 0755);
    ann_flags.insert(ann_flags.end(), {"--audio-out", ann_out});
    // Bob and Cat only listen; their microphones hear their loudspeakers 60 ms later at half
    // amplitude. Cat's echo cancellation is off.
    std::vector<std::string> bob_flags = listener_flags("bob"), cat_flags = listener_flags("cat");
    bob_flags.insert(bob_flags.end(), {"--audio-room", "60:0.5"});
    cat_flags.insert(cat_flags.end(), {"--audio-room", "60:0.5", "--echo-cancel", "off"});
    child_process& ann = client(testsupport::loopback_host(1), testsupport::loopback_host(2), "ann", ann_flags);
    child_process& bob = client(testsupport::loopback_host(1), testsupport::loopback_host(3), "bob", bob_flags);
    child_process& cat = client(testsupport::loopback_host(1), testsupport::loopback_host(4), "cat", cat_flags);
    int ann_id = register_and_login(ann, "ann@example.org", "ann");
    int bob_id = register_and_login(bob, "bob@example.org", "bob");
    int cat_id = register_and_login(cat, "cat@example.org", "cat");
    befriend(ann, ann_id, bob, bob_id, "bob@example.org");
    befriend(ann, ann_id, cat, cat_id, "cat@example.org");
    const std::string ann_s = std::to_string(ann_id);
    // Ann talks to both and they answer with what their microphones hear, which Ann first
    // does not play: Bob's canceller learns the room for ten seconds.
    for (int id : {bob_id, cat_id}) {
        ann.write_line("listen " + std::to_string(id) + " off");
        ASSERT_FALSE(ann.wait_line({"\"ok\":\"listen\""}).empty());
    }
    for (child_process* c : {&bob, &cat}) {
        c->write_line("listen " + ann_s + " on");
        ASSERT_FALSE(c->wait_line({"\"ok\":\"listen\""}).empty());
        c->write_line("talk " + ann_s + " on");
        ASSERT_FALSE(c->wait_line({"\"ok\":\"talk\""}).empty());
    }
    ann.write_line("talk " + std::to_string(bob_id) + " on");
    ann.write_line("talk " + std::to_string(cat_id) + " on");
    const int learning = 2 * 84;  // two listeners, ten seconds
    ASSERT_GE(wait_stat(ann, "sent_data", learning), learning);
    for (int id : {bob_id, cat_id}) {
        ann.write_line("listen " + std::to_string(id) + " on");
        ASSERT_FALSE(ann.wait_line({"\"ok\":\"listen\"", "\"peer_audio\":true"}).empty());
    }
    const int sent = learning + 2 * kTalkBuffers;
    ASSERT_GE(wait_stat(ann, "sent_data", sent), sent);
    for (child_process* c : {&bob, &cat}) c->write_line("talk " + ann_s + " off");
    ann.write_line("talk " + std::to_string(bob_id) + " off");
    ann.write_line("talk " + std::to_string(cat_id) + " off");

    // What came back to Ann from each: Cat's file holds her own voice, Bob's little of it.
    std::string l = wait_stats(ann, [](const std::string& st) {
        int played = json_int(st, "played");
        return played == json_int(st, "queued") && played == json_int(st, "finished");
    });
    ASSERT_FALSE(l.empty()) << "the players did not settle";
    std::vector<uint8_t> cat_back = read_wav(ann_out + "/peer_" + std::to_string(cat_id) + ".wav");
    std::vector<uint8_t> bob_back = read_wav(ann_out + "/peer_" + std::to_string(bob_id) + ".wav");
    EXPECT_EQ(cat_back.size() + bob_back.size(), static_cast<size_t>(json_int(l, "played")) * kBuffer);
    const double from_cat = energy_of(cat_back), from_bob = energy_of(bob_back);
    std::printf("echo energy back to the talker: %.0f without cancellation, %.0f with (%.1f dB)\n",
                from_cat, from_bob, 10 * std::log10((from_cat + 1) / (from_bob + 1)));
    EXPECT_GT(from_cat, 8.0 * kTalkBuffers * kBuffer) << "the room's echo came back";
    // About 25 dB on a quiet machine; a loaded one shifts the file devices' timing, which the
    // canceller then follows. Without it the two would be alike.
    EXPECT_LT(from_bob * 4, from_cat);
}
}  // namespace
