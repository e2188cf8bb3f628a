#include "ui/transfer/progress_window.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/dialogs/dialog_texts.h"
#include "ui/skin/controls.h"

namespace {
constexpr uint32_t kWindowMs = 5000;  // the speed is taken over this many milliseconds
constexpr uint32_t kMinSpanMs = 200;
}  // namespace

void rate_meter::add(int64_t bytes, uint32_t ms) {
    m_samples.push_back(sample{bytes, ms});
    // Keep one sample older than the window so the span covers it fully.
    while (m_samples.size() > 2 && ms - m_samples[1].ms >= kWindowMs) m_samples.pop_front();
}

double rate_meter::bytes_per_second() const {
    if (m_samples.size() < 2) return 0;
    const sample& a = m_samples.front();
    const sample& b = m_samples.back();
    uint32_t span = b.ms - a.ms;
    if (span < kMinSpanMs || b.bytes < a.bytes) return 0;
    return static_cast<double>(b.bytes - a.bytes) * 1000.0 / span;
}

int64_t rate_meter::seconds_left(int64_t total) const {
    double rate = bytes_per_second();
    if (total < 0 || rate <= 0 || m_samples.empty()) return -1;
    int64_t rest = total - m_samples.back().bytes;
    if (rest <= 0) return 0;
    return static_cast<int64_t>(static_cast<double>(rest) / rate + 0.999);
}

QString size_text(int64_t bytes) {
    if (bytes < 1024) return QStringLiteral("%1 B").arg(bytes);
    if (bytes < 1024 * 1024) return QStringLiteral("%1 KB").arg(bytes / 1024.0, 0, 'f', 1);
    return QStringLiteral("%1 MB").arg(bytes / (1024.0 * 1024.0), 0, 'f', 1);
}

QString duration_text(int64_t seconds) {
    if (seconds < 0) return QStringLiteral("-");
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg(seconds / 60 % 60, 2, 10, QChar('0'))
            .arg(seconds % 60, 2, 10, QChar('0'));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar('0'));
}

CDlgFileProgress::CDlgFileProgress(int peer_id, bool sending, const QString& title, QWidget* parent)
    : parlo_dialog(parent), m_peer_id(peer_id), m_sending(sending) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    setModal(false);
    setWindowTitle(title);
    m_name = new CMyStatic(QString(), this);
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, 0);
    m_status = new CMyStatic(QString(), this);
    // The file name comes from the peer: shown as it is, never read as markup.
    m_name->setTextFormat(Qt::PlainText);
    m_status->setTextFormat(Qt::PlainText);
    auto* close = new CMyButton(ui_text(T_CLOSE), this);
    connect(close, &CMyButton::clicked, this, &QWidget::hide);
    auto* top = new QVBoxLayout(this);
    top->addWidget(m_name);
    top->addWidget(m_bar);
    top->addWidget(m_status);
    top->addWidget(close, 0, Qt::AlignRight);
    resize(360, 120);
}

void CDlgFileProgress::set_file(const QString& name, int64_t total) {
    m_name->setText(name);
    m_total = total;
    if (total > 0)
        m_bar->setRange(0, 1000);
    else
        m_bar->setRange(0, 0);  // size unknown: a busy bar
}

int CDlgFileProgress::percent() const {
    if (m_total <= 0) return -1;
    return static_cast<int>(m_bytes * 100 / m_total);
}

void CDlgFileProgress::update_bytes(int64_t bytes, uint32_t now_ms) {
    m_bytes = bytes;
    m_meter.add(bytes, now_ms);
    if (m_total > 0) m_bar->setValue(static_cast<int>(bytes * 1000 / m_total));
    double rate = m_meter.bytes_per_second();
    QString text = m_total > 0 ? ui_text(T_BYTES_OF, {size_text(bytes), size_text(m_total)})
                               : size_text(bytes);
    if (rate > 0) {
        text += ", " + ui_text(T_PER_SECOND, {size_text(static_cast<int64_t>(rate))});
        int64_t left = m_meter.seconds_left(m_total);
        if (left >= 0) text += ", " + ui_text(T_TIME_LEFT, {duration_text(left)});
    }
    m_status->setText(text);
}

void CDlgFileProgress::finish(bool complete, const QString& text) {
    if (complete) {
        m_bar->setRange(0, 1000);
        m_bar->setValue(1000);
    } else if (m_bar->maximum() == 0) {
        m_bar->setRange(0, 1000);
        m_bar->setValue(0);
    }
    m_status->setText(text);
}

QString CDlgFileProgress::status_text() const {
    return m_status->text();
}
