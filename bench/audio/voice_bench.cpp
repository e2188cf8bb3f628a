// Voice figures measured with real processes on loopback (a parlo-server and parlo-cli clients
// with file devices):
//  1. mouth-to-ear delay: the talker notes the tick at which each buffer's capture finished, the
//     listener the tick at which its player was handed the decoded buffer (both on the same
//     monotonic clock); median and 99th percentile, next to the least the design allows: one
//     buffer of capture plus the opening jitter depth (3 buffers waiting before the first plays).
//  2. CPU of one client receiving ten speakers at once, over the same stretch of time.
//  3. CPU of an idle signed-in client with its devices open (null backend: capture running, ten
//     players open), over 20 seconds.
// Usage: voice_bench [seconds of talk, default 10]
#include <dirent.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tests/e2e/cli_accounts.h"
#include "tests/e2e/json_lines.h"
#include "tests/e2e/voice_signal.h"

namespace {
constexpr const char* kNet = "127.0.63.";


// CPU seconds of each thread of a process, summed by thread name.
std::map<std::string, double> thread_cpu_s(pid_t pid) {
    std::map<std::string, double> out;
    std::string base = "/proc/" + std::to_string(pid) + "/task";
    std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(base.c_str()), closedir);
    if (!d) return out;
    while (dirent* e = readdir(d.get())) {
        if (e->d_name[0] == '.') continue;
        std::ifstream f(base + "/" + e->d_name + "/stat");
        std::string text((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        size_t open = text.find('('), close = text.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        std::string name = text.substr(open + 1, close - open - 1);
        if (name.rfind("snd-play-", 0) == 0) name = "snd-play-*";
        std::istringstream rest(text.substr(close + 2));
        std::string field;
        unsigned long long utime = 0, stime = 0;
        for (int i = 3; rest >> field; i++) {
            if (i == 14) utime = std::stoull(field);
            if (i == 15) {
                stime = std::stoull(field);
                break;
            }
        }
        out[name] += static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    return out;
}

// Context switches (wake-ups) of each thread of a process, summed by thread name.
std::map<std::string, long> thread_wakeups(pid_t pid) {
    std::map<std::string, long> out;
    std::string base = "/proc/" + std::to_string(pid) + "/task";
    std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(base.c_str()), closedir);
    if (!d) return out;
    while (dirent* e = readdir(d.get())) {
        if (e->d_name[0] == '.') continue;
        std::ifstream f(base + "/" + e->d_name + "/status");
        std::string line, name;
        long n = 0;
        while (std::getline(f, line)) {
            if (line.rfind("Name:", 0) == 0) name = line.substr(line.find_first_not_of(" \t", 5));
            if (line.find("ctxt_switches:") != std::string::npos)
                n += std::atol(line.c_str() + line.find(':') + 1);
        }
        if (name.rfind("snd-play-", 0) == 0) name = "snd-play-*";
        if (name == "parlo-cli") name += std::string("/") + e->d_name;  // unnamed threads apart
        out[name] += n;
    }
    return out;
}

// CPU seconds of a process from the scheduler's nanosecond counts (finer than clock ticks).
double process_cpu_ns_s(pid_t pid) {
    double total = 0;
    std::string base = "/proc/" + std::to_string(pid) + "/task";
    std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(base.c_str()), closedir);
    if (!d) return 0;
    while (dirent* e = readdir(d.get())) {
        if (e->d_name[0] == '.') continue;
        std::ifstream f(base + "/" + e->d_name + "/schedstat");
        unsigned long long ns = 0;
        if (f >> ns) total += static_cast<double>(ns) / 1e9;
    }
    return total;
}

double now_s() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}


struct bench {
    std::string dir;
    std::unique_ptr<child_process> server;
    std::vector<std::unique_ptr<child_process>> clients;
    std::vector<int> ids;

    bench() {
        char tmpl[] = "/tmp/parlo-voice-bench-XXXXXX";
        dir = mkdtemp(tmpl) ? tmpl : "";
        server = std::make_unique<child_process>(
            PARLO_SERVER_PATH,
            std::vector<std::string>{"--listen", std::string(kNet) + "1", "--db", dir + "/s.db",
                                     "--fast-hash", "--log", dir + "/server.log"});
        server->wait_line({"parlo-server listening on"}, 20000);
    }
    ~bench() {
        clients.clear();
        server.reset();
        std::error_code ec;
        if (!dir.empty()) std::filesystem::remove_all(dir, ec);
    }
    // Starts, registers and signs in client number k; env is set for the child only.
    child_process& add(int k, std::vector<std::string> flags, const std::string& trace = "") {
        std::string name = "u" + std::to_string(k);
        std::vector<std::string> args{"--server", std::string(kNet) + "1",
                                      "--bind",   std::string(kNet) + std::to_string(k + 2),
                                      "--home",   dir + "/" + name};
        args.insert(args.end(), flags.begin(), flags.end());
        if (!trace.empty()) setenv("PARLO_VOICE_TRACE", trace.c_str(), 1);
        clients.push_back(std::make_unique<child_process>(PARLO_CLI_PATH, args));
        unsetenv("PARLO_VOICE_TRACE");
        child_process& c = *clients.back();
        c.wait_line({"\"event\":\"ready\""});
        std::string email = name + "@example.org";
        ids.push_back(register_and_sign_in(c, email, "pw", name, "First", "Last"));
        return c;
    }
    // a adds b; b agrees; waits until a knows b's address.
    void befriend(child_process& a, int a_id, child_process& b, int b_id,
                  const std::string& b_email) {
        a.write_line("add-contact " + b_email);
        a.wait_line({"\"event\":\"contact_add_success\""});
        b.wait_line({"\"question\":\"added_me\""});
        b.write_line("accept-contact " + std::to_string(a_id));
        b.wait_line({"\"event\":\"contact_add_confirm_success\""});
        a.wait_line({"\"w\":" + std::to_string(b_id), "\"presence_text\":\"Online\""}, 15000);
        b.wait_line({"\"w\":" + std::to_string(a_id), "\"presence_text\":\"Online\""}, 15000);
        usleep(500000);
    }
};

std::string write_signal(const std::string& dir, uint32_t seed, bool pauses = true) {
    std::vector<uint8_t> s = voicetest::speech_like(84, seed, pauses);
    std::string path = dir + "/talk" + std::to_string(seed) + ".wav";
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_U8;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return "";
    sf_write_raw(f, s.data(), static_cast<sf_count_t>(s.size()));
    sf_close(f);
    return path;
}

// "K tick crc" lines of a trace: every tick of each crc (the file loops, so a buffer recurs).
std::map<std::string, std::vector<long long>> read_trace(const std::string& path, char kind) {
    std::map<std::string, std::vector<long long>> out;
    std::ifstream f(path);
    std::string k, crc;
    long long tick;
    while (f >> k >> tick >> crc)
        if (k[0] == kind) out[crc].push_back(tick);
    return out;
}

void mouth_to_ear(int seconds, bool pauses) {
    bench b;
    std::string sig = write_signal(b.dir, 1, pauses);
    mkdir((b.dir + "/out").c_str(), 0755);
    child_process& a = b.add(0, {"--audio-backend", "wav", "--audio-in", sig}, b.dir + "/a.trace");
    child_process& l =
        b.add(1, {"--audio-backend", "wav", "--audio-out", b.dir + "/out"}, b.dir + "/b.trace");
    b.befriend(a, b.ids[0], l, b.ids[1], "u1@example.org");
    l.write_line("listen " + std::to_string(b.ids[0]) + " on");
    a.write_line("talk " + std::to_string(b.ids[1]) + " on");
    sleep(static_cast<unsigned>(seconds));
    a.write_line("talk " + std::to_string(b.ids[1]) + " off");
    sleep(2);
    auto sent = read_trace(b.dir + "/a.trace", 'S');
    auto played = read_trace(b.dir + "/b.trace", 'P');
    std::vector<long long> delays;
    for (const auto& [crc, ticks] : played) {
        auto it = sent.find(crc);
        if (it == sent.end()) continue;
        for (long long p : ticks) {
            // The latest capture of that buffer before it was played.
            long long best = -1;
            for (long long s : it->second)
                if (s <= p && s > best) best = s;
            if (best >= 0) delays.push_back(p - best + 120);  // + the capture buffer itself
        }
    }
    std::sort(delays.begin(), delays.end());
    if (delays.empty()) {
        std::printf("mouth-to-ear: no buffer matched (sent %zu, played %zu)\n", sent.size(),
                    played.size());
        return;
    }
    auto pct = [&](double p) {
        return delays[std::min(delays.size() - 1,
                               static_cast<size_t>(p * static_cast<double>(delays.size())))];
    };
    std::printf(
        "%s: mouth-to-ear over %zu buffers: median %lld ms, p99 %lld ms, max %lld ms; floor 120 + "
        "3 x 120 = 480 ms "
        "(capture buffer, then three buffers waiting at depth 2)\n",
        pauses ? "speech with pauses" : "continuous speech", delays.size(), pct(0.5), pct(0.99),
        delays.back());
}

void ten_speakers(int seconds) {
    bench b;
    child_process& l = b.add(0, {"--audio-backend", "wav", "--audio-out", b.dir + "/out"});
    mkdir((b.dir + "/out").c_str(), 0755);
    std::vector<child_process*> talkers;
    for (int k = 1; k <= 10; k++) {
        child_process& t = b.add(k, {"--audio-backend", "wav", "--audio-in",
                                     write_signal(b.dir, static_cast<uint32_t>(k))});
        b.befriend(t, b.ids[static_cast<size_t>(k)], l, b.ids[0], "u0@example.org");
        l.write_line("listen " + std::to_string(b.ids[static_cast<size_t>(k)]) + " on");
        talkers.push_back(&t);
    }
    for (int k = 1; k <= 10; k++)
        talkers[static_cast<size_t>(k - 1)]->write_line("talk " + std::to_string(b.ids[0]) + " on");
    sleep(2);
    double c0 = process_cpu_s(l.pid()), t0 = now_s();
    auto threads0 = thread_cpu_s(l.pid());
    double tc0 = 0;
    for (auto* t : talkers) tc0 += process_cpu_s(t->pid());
    sleep(static_cast<unsigned>(seconds));
    double c1 = process_cpu_s(l.pid()), t1 = now_s();
    auto threads1 = thread_cpu_s(l.pid());
    double tc1 = 0;
    for (auto* t : talkers) tc1 += process_cpu_s(t->pid());
    l.write_line("audio-stats");
    std::string stats = l.wait_line({"\"audio_stats\":"});
    std::printf(
        "ten speakers: listener CPU %.2f%% of one core over %.1f s (talkers %.2f%% each); %s\n",
        100.0 * (c1 - c0) / (t1 - t0), t1 - t0, 100.0 * (tc1 - tc0) / (t1 - t0) / 10,
        stats.c_str());
    for (const auto& [name, cpu] : threads1) {
        double used = cpu - threads0[name];
        if (used > 0) std::printf("  listener thread %-16s %.2f%%\n", name.c_str(), 100.0 * used / (t1 - t0));
    }
}

void idle_client(int seconds, bool sound) {
    bench b;
    std::vector<std::string> flags{"--audio-backend", "null"};
    if (!sound) flags = {"--no-audio"};
    child_process& c = b.add(0, flags);
    child_process& d = b.add(1, flags);
    b.befriend(c, b.ids[0], d, b.ids[1], "u1@example.org");
    sleep(2);
    double c0 = process_cpu_ns_s(c.pid()), t0 = now_s();
    auto wakeups0 = thread_wakeups(c.pid());
    sleep(static_cast<unsigned>(seconds));
    double c1 = process_cpu_ns_s(c.pid()), t1 = now_s();
    auto wakeups1 = thread_wakeups(c.pid());
    c.write_line("audio-stats");
    std::string stats = c.wait_line({"\"audio_stats\":"});
    std::printf("idle signed-in client %s: CPU %.4f%% of one core over %.1f s; %s\n",
                sound ? "with devices open" : "without sound threads",
                100.0 * (c1 - c0) / (t1 - t0), t1 - t0, stats.c_str());
    for (const auto& [name, n] : wakeups1) {
        long woke = n - wakeups0[name];
        if (woke > 0) std::printf("  thread %-16s %.1f wake-ups/s\n", name.c_str(), woke / (t1 - t0));
    }
}
}  // namespace

int main(int argc, char** argv) {
    int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    std::string only = argc > 2 ? argv[2] : "";
    if (only.empty() || only == "delay") {
        mouth_to_ear(seconds, true);
        mouth_to_ear(seconds, false);
    }
    if (only.empty() || only == "ten") ten_speakers(seconds);
    if (only.empty() || only == "idle") {
        idle_client(2 * seconds, true);
        idle_client(2 * seconds, false);
    }
    return 0;
}
