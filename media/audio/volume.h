// Volume, device side: the microphone's recording volume through the ALSA mixer of the default
// card (IVolume, CVolumeInXXX), and the playback volume of the ten players (a gain each player
// applies to what it writes).
//
// Threads: an IVolume and the speaker functions are used by the front end's thread, the one that
// starts and ends the sound threads.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class IVolume {
public:
    virtual ~IVolume() = default;
    virtual bool is_available() const = 0;
    // Makes the chosen line the recording source.
    virtual void enable_line() = 0;
    virtual void disable_line() = 0;
    virtual long get_steps() const = 0;
    virtual long get_minimum() const = 0;
    virtual long get_maximum() const = 0;
    virtual long get_volume() const = 0;
    // Ignored when not available or outside minimum..maximum; else sets every channel.
    virtual void set_volume(long value) = 0;
    virtual void set_listener(void (*callback)(long volume, void* user), void* user) = 0;
};

// The capture volume of one capture element of the default card's mixer, chosen by its index
// among the elements that have a capture volume.
class CVolumeInXXX : public IVolume {
public:
    explicit CVolumeInXXX(int source_index);
    ~CVolumeInXXX() override;
    bool is_available() const override { return m_available; }
    void enable_line() override;
    void disable_line() override {}
    long get_steps() const override;
    long get_minimum() const override { return m_available ? m_min : -1; }
    long get_maximum() const override { return m_available ? m_max : -1; }
    long get_volume() const override;
    void set_volume(long value) override;
    void set_listener(void (*callback)(long, void*), void* user) override;
    const std::string& line_name() const { return m_name; }

private:
    void* m_mixer = nullptr;  // snd_mixer_t
    void* m_elem = nullptr;   // snd_mixer_elem_t
    bool m_available = false;
    int m_source_index;
    std::string m_name;
    long m_min = 0;
    long m_max = 0;
    void (*m_listener)(long, void*) = nullptr;
    void* m_listener_user = nullptr;
};

// Calls visit(index, name) for each capture element of the default card's mixer in order until
// it returns false. 0, or -1 when the mixer cannot be read.
int enumerate_input_lines(const std::function<bool(int index, const std::string& name)>& visit);
// The index of the microphone line (an element named like a microphone, else the first capture
// element), or -1; logs the enumeration failures as the microphone slider does.
int find_microphone_line();
// The microphone volume of a front end: created for the microphone line; when it is not
// available the user is told to check the device (once a run; every time in the log). Never null.
std::unique_ptr<IVolume> create_microphone_volume();

// Sets both channels of every open player to volume (0-65535). Returns how many were set.
int set_speaker_volume(uint32_t volume);
// The starting value of a speaker slider: player 0's first channel, or 8191 when there is no
// open player or it reads 0.
uint32_t speaker_volume_start();
