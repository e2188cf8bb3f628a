// The chat window's media controls: the volume sliders, the level meters, the bitmap button and
// the zoom window of a video picture. GUI thread only; the meters get their values as posted
// notifications, never from another thread directly.
#pragma once
#include <QDialog>
#include <QPixmap>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "ui/skin/good_dlg.h"

class QPainter;
struct peer_picture;

// Draws a picture stretched over `at`; black when there is none or it is incomplete.
void draw_peer_picture(QPainter& p, const QRect& at, const peer_picture* pic);

// A horizontal slider with a wedge-shaped track and a small thumb.
class CWndMySlider : public QWidget {
    Q_OBJECT
public:
    explicit CWndMySlider(QWidget* parent = nullptr);
    int maximum() const { return m_max; }
    int minimum() const { return m_min; }
    int position() const { return m_pos; }
    bool dragging() const { return m_dragging; }
    void set_range(int min, int max);
    // Clamped to minimum..maximum, repainted.
    void set_position(int pos);
    int thumb_x() const;
    int middle_line() const { return height() / 2 + kTrackHeight / 2; }

    static constexpr int kLeftMargin = 4;
    static constexpr int kRightMargin = 4;
    static constexpr int kTrackHeight = 3;

signals:
    // A drag or click ended with the left button released at this position.
    void released(int position);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

private:
    int position_at(int x) const;
    int m_max = 100;
    int m_min = 0;
    int m_pos = 0;
    bool m_dragging = false;
};

// What the sliders do with the devices; filled by the application from the sound layer.
struct volume_hooks {
    // Microphone: available, range and current value; set. Unavailable leaves 0..100 at 0.
    std::function<bool(int* min, int* max, int* volume)> mic_query;
    std::function<void(int volume)> mic_set;
    // Speaker: the first open player's volume (0: none), set on every open player.
    std::function<int()> speaker_query;
    std::function<void(int volume)> speaker_set;
    // Called when no microphone volume could be had (a message box in the application, over the
    // window of the slider that asked).
    std::function<void(QWidget* window)> mic_unavailable;
};
volume_hooks& media_volume_hooks();

class CWndMySliderMic : public CWndMySlider {
    Q_OBJECT
public:
    explicit CWndMySliderMic(QWidget* parent = nullptr);
};

class CWndMySliderSpeaker : public CWndMySlider {
    Q_OBJECT
public:
    explicit CWndMySliderSpeaker(QWidget* parent = nullptr);
};

// A level meter: a ring of up to 300 samples drawn right to left from the newest.
class CWndVolumeShow : public QWidget {
    Q_OBJECT
public:
    explicit CWndVolumeShow(QWidget* parent = nullptr);
    void add_sample(int value);
    int ring_length() const { return m_length; }
    int write_position() const { return m_write; }
    int value_at(int i) const { return m_ring[static_cast<size_t>(i)]; }
    // Height of the line a value draws in a meter of the given height.
    static int line_height(int value, int client_height);

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void refill();
    std::vector<uint16_t> m_ring = std::vector<uint16_t>(300, 2);
    int m_write = 0;
    int m_length = 300;
};

// The zoom window of my picture or the peer's: 320x240 in a 325x300 window, or 640x480 in
// 645x540; a press inside the corner band toggles the two.
class CDlgVideoZoom : public Cgood_dlg {
    Q_OBJECT
public:
    using picture_source = std::function<std::shared_ptr<const peer_picture>()>;
    CDlgVideoZoom(picture_source source, QWidget* parent = nullptr);
    bool large() const { return m_large; }
    // Where the picture is drawn: two pixels in from the frame, below the title bar.
    QRect picture_rect() const;
    // A press at p (window pixels) inside the band 2-16 pixels from the right and bottom edges.
    bool in_toggle_band(QPoint p) const;
    void set_large(bool large);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;

private:
    picture_source m_source;
    bool m_large = false;
};
