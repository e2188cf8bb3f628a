// Video between two headless clients with the pattern camera: replies travel through the
// server's relay. Each watcher's picture must equal, byte for byte, what the decoder makes of
// the frame records the owner sent (the owner writes them with --video-dump); a size change
// reaches the watcher; with the owner's my-video off the watcher gets nothing.
#include <dirent.h>
#include <png.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "media/codec/frame_codec.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/support/loopback.h"

namespace {
using namespace e2e;

std::vector<uint8_t> read_file(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0)
            bytes.insert(bytes.end(), buf, buf + n);
        std::fclose(f);
    }
    return bytes;
}

// The RGB pixels of a PNG file (empty when it cannot be read).
std::vector<uint8_t> read_png(const std::string& path, int* width, int* height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
    image.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return {};
    *width = static_cast<int>(image.width);
    *height = static_cast<int>(image.height);
    return rgb;
}

// The first file of dir whose name starts with prefix and ends with suffix.
std::string find_record(const std::string& dir, const std::string& prefix,
                        const std::string& suffix) {
    std::string found;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name.rfind(prefix, 0) == 0 && name.size() >= suffix.size() &&
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
                found = dir + "/" + name;
        }
        closedir(d);
    }
    return found;
}

std::string json_text(const std::string& line, const std::string& key) {
    size_t at = line.find("\"" + key + "\":\"");
    if (at == std::string::npos) return "";
    at += key.size() + 4;
    return line.substr(at, line.find('"', at) - at);
}

class VideoE2E : public e2e_fixture {
protected:
    child_process& video_client(const std::string& net, const std::string& name, int host) {
        std::string dump = m_dir + "/" + name + "-sent";
        mkdir(dump.c_str(), 0700);
        return client(
            net + ".1", net + "." + std::to_string(host), name,
            {"--video-in", "pattern", "--video-dump", dump, "--relay-ports", "19080,19443,19199"});
    }
    // Takes the watcher's snapshot of owner_id and compares it with the decoder's picture of the
    // owner's records: the key record of that key version, then the difference record if any.
    void expect_picture_matches(child_process& watcher, int owner_id,
                                const std::string& owner_name) {
        std::string png = m_dir + "/snap-" + std::to_string(owner_id) + ".png";
        watcher.write_line("snapshot " + std::to_string(owner_id) + " " + png);
        std::string snap = watcher.wait_line({"\"ok\":\"snapshot\"", png});
        ASSERT_FALSE(snap.empty());
        int key = json_int(snap, "key_version"), partial = json_int(snap, "partial_version");
        std::string dir = m_dir + "/" + owner_name + "-sent";
        std::string key_rec = find_record(dir, "sent-" + std::to_string(key) + "-", "-1.rec");
        ASSERT_FALSE(key_rec.empty()) << "no key record " << key << " in " << dir;
        auto decoder = std::make_unique<frame_decoder>();
        std::vector<uint8_t> rec = read_file(key_rec);
        ASSERT_EQ(decode_video_frame(decoder.get(), rec.data(), static_cast<int>(rec.size())), 1);
        if (json_text(snap, "type") == "difference") {
            std::string diff =
                dir + "/sent-" + std::to_string(key) + "-" + std::to_string(partial) + "-0.rec";
            rec = read_file(diff);
            ASSERT_FALSE(rec.empty()) << diff;
            ASSERT_EQ(decode_video_frame(decoder.get(), rec.data(), static_cast<int>(rec.size())),
                      0);
        }
        int w = 0, h = 0;
        std::vector<uint8_t> got = read_png(png, &w, &h);
        ASSERT_EQ(w, decoder->width);
        ASSERT_EQ(h, decoder->height);
        ASSERT_EQ(got.size(), static_cast<size_t>(w) * h * 3);
        EXPECT_EQ(0, std::memcmp(got.data(), decoder->rgb, got.size())) << snap;
    }
};

TEST_F(VideoE2E, TwoWayVideoThroughTheRelayMatchesTheOwnersFrames) {
    const std::string net = testsupport::loopback_block();
    start_server(net + ".1", {"--relay-port", "7161"});
    child_process& ann = video_client(net, "ann", 2);
    child_process& bob = video_client(net, "bob", 3);
    int ann_id = register_and_login(ann, "ann@example.org", "ann");
    int bob_id = register_and_login(bob, "bob@example.org", "bob");
    befriend(ann, ann_id, bob, bob_id, "bob@example.org");
    const std::string a = std::to_string(ann_id), b = std::to_string(bob_id);

    // Both directions at once.
    ann.write_line("video " + b + " on");
    ASSERT_FALSE(ann.wait_line({"\"ok\":\"video\"", "\"capturing\":true"}).empty());
    bob.write_line("video " + a + " on");
    ASSERT_FALSE(bob.wait_line({"\"ok\":\"video\"", "\"capturing\":true"}).empty());
    ann.write_line("watch " + b + " on");
    bob.write_line("watch " + a + " on");
    // The relay route comes with the periodic route exchange: allow it time.
    const std::vector<std::string> from_ann{"\"event\":\"video_frame\"", "\"peer\":" + a};
    const std::vector<std::string> from_bob{"\"event\":\"video_frame\"", "\"peer\":" + b};
    ASSERT_FALSE(bob.wait_line(from_ann, 120000).empty()) << "bob saw no picture of ann";
    ASSERT_FALSE(ann.wait_line(from_bob, 120000).empty()) << "ann saw no picture of bob";
    // A few more, so that difference frames take part.
    std::string diff = bob.wait_line(
        {"\"event\":\"video_frame\"", "\"peer\":" + a, "\"type\":\"difference\""}, 30000);
    EXPECT_FALSE(diff.empty()) << "no difference frame reached bob";
    EXPECT_NE(diff.find("\"width\":160,\"height\":120"), std::string::npos) << diff;
    expect_picture_matches(bob, ann_id, "ann");
    expect_picture_matches(ann, bob_id, "bob");

    // A size change on Ann's side reaches Bob as a new picture size.
    ann.write_line("video-size 1");
    ASSERT_FALSE(ann.wait_line({"\"ok\":\"video-size\"", "\"width\":320"}).empty());
    ASSERT_FALSE(bob.wait_line({"\"event\":\"video_frame\"", "\"peer\":" + a,
                                "\"width\":320,\"height\":240"},
                               30000)
                     .empty());
    expect_picture_matches(bob, ann_id, "ann");

    // With Ann's my-video off, Bob gets nothing more (after what was already on its way).
    ann.write_line("video " + b + " off");
    ASSERT_FALSE(ann.wait_line({"\"ok\":\"video\"", "\"on\":false"}).empty());
    // Earlier pictures stay in Bob's output untaken: look only at what comes from now on. What
    // was on its way still arrives (a few, at ten a second); then the pictures stop.
    const size_t after_off = bob.line_count();
    const auto is_from_ann = [&](const std::string& line) {
        return line.find(from_ann[0]) != std::string::npos &&
               line.find(from_ann[1]) != std::string::npos;
    };
    int late = 0;
    while (late < 30 && !bob.wait_line_if(is_from_ann, 3000, after_off).empty()) late++;
    EXPECT_LT(late, 30) << "pictures kept coming after my-video was switched off";
    EXPECT_TRUE(bob.wait_line_if(is_from_ann, 5000, after_off).empty())
        << "a picture came after my-video was switched off";
    // Ann still receives Bob's pictures.
    EXPECT_FALSE(ann.wait_line(from_bob, 10000).empty());
}

}  // namespace
