// A small window per file transfer that shows the bytes moved, the speed and the time left.
// GUI thread only; fed from the core's progress notifications.
#pragma once
#include <QWidget>

#include "ui/dialogs/dialog_base.h"
#include <cstdint>
#include <deque>

class QLabel;
class QProgressBar;

// Speed over the last few seconds of samples (bytes so far, at a millisecond tick).
class rate_meter {
public:
    void add(int64_t bytes, uint32_t ms);
    // Bytes per second; 0 until two samples lie at least 200 ms apart.
    double bytes_per_second() const;
    // Seconds until total is reached at the current speed; -1 when unknown.
    int64_t seconds_left(int64_t total) const;

private:
    struct sample {
        int64_t bytes;
        uint32_t ms;
    };
    std::deque<sample> m_samples;
};

// "1.5 KB/s", "2:05" and similar short texts.
QString size_text(int64_t bytes);
QString duration_text(int64_t seconds);

// Skinned like every other dialog; non-modal. Closing it only hides it (the transfer goes on).
class CDlgFileProgress : public parlo_dialog {
    Q_OBJECT
public:
    CDlgFileProgress(int peer_id, bool sending, const QString& title, QWidget* parent = nullptr);
    int peer_id() const { return m_peer_id; }
    bool sending() const { return m_sending; }

    // total is -1 when the size is not known (receiving).
    void set_file(const QString& name, int64_t total);
    void update_bytes(int64_t bytes, uint32_t now_ms);
    // The transfer ended: done, or the reason it ended early.
    void finish(bool complete, const QString& text);
    QString status_text() const;
    int percent() const;

private:
    int m_peer_id;
    bool m_sending;
    int64_t m_total = -1;
    int64_t m_bytes = 0;
    rate_meter m_meter;
    QLabel* m_name;
    QLabel* m_status;
    QProgressBar* m_bar;
};
