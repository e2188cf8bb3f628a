#include "ui/dialogs/devices_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <mutex>

#include "media/audio/audio_service.h"
#include "media/video/my_video.h"
#include "media/video/video_source.h"
#include "platform/thread.h"
#include "protocol/settings_store.h"
#include "ui/common/gui_call.h"
#include "ui/dialogs/dialog_texts.h"
#include "ui/skin/controls.h"

namespace {
CDlgDevices* g_open = nullptr;  // GUI thread only

const char* const kSwitches[3] = {"echo_cancel", "noise_suppression", "auto_gain"};

std::string setting(const char* name) {
    char text[512] = "";
    reg_read("media", name, text, sizeof(text));
    return text;
}

// The voice processing switches are on unless turned off.
bool switch_on(const char* name) {
    int v = 1;
    return setting(name).empty() || (reg_read_int("media", name, &v) == 0 && v != 0);
}

// What the dialog shows and saves, read and written on jobs: the last change wins.
struct device_choice {
    std::string input, output, camera;  // camera: the device file, "" when none is listed
    bool switches[3] = {true, true, true};
};
std::mutex g_apply_mutex;
uint64_t g_apply_latest = 0;  // guarded by g_apply_mutex

void save_and_apply_choice(const device_choice& c, uint64_t seq) {
    std::lock_guard<std::mutex> lk(g_apply_mutex);
    if (seq < g_apply_latest) return;  // a later change was applied already
    g_apply_latest = seq;
    reg_write("media", "audio_input", c.input.c_str());
    reg_write("media", "audio_output", c.output.c_str());
    for (int i = 0; i < 3; i++) reg_write_int("media", kSwitches[i], c.switches[i] ? 1 : 0);
    choose_audio_devices(c.input, c.output);
    voice_processing_settings_changed();
    if (c.camera.empty()) return;
    const std::string input = "v4l2:" + c.camera;
    if (setting("video_input") == input) return;
    reg_write("media", "video_input", input.c_str());
    video_set_input(input);
    // A running camera moves to the new one; it opens again only while some session wants it.
    if (video_capture_running()) {
        video_stop_capture();
        video_follow_my_switches();
    }
}

// The meter's start and stop run on jobs (opening a device takes a while); the last dialog that
// started it is the one that may stop it.
std::mutex g_meter_jobs;
const void* g_meter_owner = nullptr;  // guarded by g_meter_jobs
}  // namespace

CDlgDevices::CDlgDevices(QWidget* parent, std::string camera_dir)
    : parlo_dialog(parent), m_camera_dir(std::move(camera_dir)) {
    setWindowTitle(ui_text(T_DEVICES_TITLE));
    m_input = new CMyComboBox(this);
    m_output = new CMyComboBox(this);
    m_camera = new CMyComboBox(this);
    m_meter = new QProgressBar(this);
    m_meter->setRange(0, 128);
    m_meter->setTextVisible(false);
    m_meter->setValue(0);
    m_test = new CMyButton(ui_text(T_DEVICES_TEST_SOUND), this);
    m_echo = new CMyCheckBox(ui_text(T_DEVICES_ECHO_CANCEL), this);
    m_noise = new CMyCheckBox(ui_text(T_DEVICES_NOISE_SUPPRESSION), this);
    m_gain = new CMyCheckBox(ui_text(T_DEVICES_AUTO_GAIN), this);
    auto* close = new CMyButton(ui_text(T_CLOSE), this);
    for (QComboBox* box : {m_input, m_output}) box->addItem(ui_text(T_DEVICES_DEFAULT), QString());
    for (QWidget* w :
         std::initializer_list<QWidget*>{m_input, m_output, m_camera, m_echo, m_noise, m_gain})
        w->setEnabled(false);  // until the lists are read

    auto* grid = new QGridLayout;
    grid->addWidget(new CMyStatic(ui_text(T_DEVICES_INPUT), this), 0, 0);
    grid->addWidget(m_input, 0, 1);
    grid->addWidget(new CMyStatic(ui_text(T_DEVICES_LEVEL), this), 1, 0);
    grid->addWidget(m_meter, 1, 1);
    grid->addWidget(new CMyStatic(ui_text(T_DEVICES_OUTPUT), this), 2, 0);
    grid->addWidget(m_output, 2, 1);
    grid->addWidget(m_test, 3, 1, Qt::AlignLeft);
    grid->addWidget(new CMyStatic(ui_text(T_DEVICES_CAMERA), this), 4, 0);
    grid->addWidget(m_camera, 4, 1);
    grid->setColumnStretch(1, 1);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(close);
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(12, kTitleHeight + kStripHeight + 8, 12, 10);
    top->addLayout(grid);
    top->addWidget(m_echo);
    top->addWidget(m_noise);
    top->addWidget(m_gain);
    top->addLayout(row);
    setMinimumWidth(420);

    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_test, &QPushButton::clicked, this, [] { play_test_tone(); });
    for (QComboBox* box : {m_input, m_output, m_camera})
        connect(box, QOverload<int>::of(&QComboBox::activated), this,
                [this](int) { save_and_apply(); });
    for (QCheckBox* box : {m_echo, m_noise, m_gain})
        connect(box, &QCheckBox::clicked, this, [this](bool) { save_and_apply(); });
    m_meter_timer = new QTimer(this);
    m_meter_timer->setInterval(100);
    connect(m_meter_timer, &QTimer::timeout, this,
            [this] { m_meter->setValue(m_level->level.load()); });

    g_open = this;
    // Devices plugged in or out show up while the dialog is open.
    set_devices_changed_observer([] {
        post_to_gui(nullptr, [] {
            if (CDlgDevices* d = current()) d->refresh();
        });
    });
    refresh();
    // Cards plugged in since the sound started are looked for (where no udev events come);
    // the lists are read again once that is done.
    audio_devices_changed();
}

CDlgDevices::~CDlgDevices() {
    set_devices_changed_observer(nullptr);
    if (g_open == this) g_open = nullptr;
    hideEvent(nullptr);
}

CDlgDevices* CDlgDevices::current() {
    return g_open;
}

void CDlgDevices::refresh() {
    start_job([dir = m_camera_dir] {
        lists l;
        audio_config cfg;
        load_audio_settings(&cfg);
        l.inputs = audio_device_names(cfg, true);
        l.outputs = audio_device_names(cfg, false);
        for (const camera_info& c : list_cameras(dir)) {
            l.cameras.push_back(camera_label(c));
            l.camera_paths.push_back(c.path);
        }
        post_to_gui(nullptr, [l] {
            if (CDlgDevices* d = current()) d->fill(l);
        });
    });
}

void CDlgDevices::fill(const lists& l) {
    // The first time the choices come from the settings; later the lists keep what is chosen on
    // screen (its saving may still be under way).
    const bool first = m_filled == 0;
    auto pick = [&](QComboBox* box, const char* name) {
        return first ? setting(name) : chosen(box);
    };
    auto fill_box = [](QComboBox* box, const std::vector<std::string>& names,
                       const std::string& chosen) {
        box->clear();
        box->addItem(ui_text(T_DEVICES_DEFAULT), QString());
        for (const std::string& n : names)
            box->addItem(QString::fromStdString(n), QString::fromStdString(n));
        // A chosen device that is not plugged in stays chosen, for when it comes back.
        int at = box->findData(QString::fromStdString(chosen));
        if (at < 0) {
            box->addItem(QString::fromStdString(chosen), QString::fromStdString(chosen));
            at = box->count() - 1;
        }
        box->setCurrentIndex(at);
        box->setEnabled(true);
    };
    fill_box(m_input, l.inputs, pick(m_input, "audio_input"));
    fill_box(m_output, l.outputs, pick(m_output, "audio_output"));
    const std::string camera = first ? setting("video_input")
                                     : (chosen(m_camera).empty() ? "" : "v4l2:" + chosen(m_camera));
    m_camera->clear();
    for (size_t i = 0; i < l.cameras.size(); i++) {
        const QString path = QString::fromStdString(l.camera_paths[i]);
        m_camera->addItem(QString::fromStdString(l.cameras[i]), path);
        if (camera == "v4l2:" + l.camera_paths[i]) m_camera->setCurrentIndex(m_camera->count() - 1);
    }
    if (l.cameras.empty()) m_camera->addItem(ui_text(T_DEVICES_NO_CAMERA), QString());
    m_camera->setEnabled(!l.cameras.empty());
    QCheckBox* boxes[3] = {m_echo, m_noise, m_gain};
    for (int i = 0; i < 3; i++) {
        if (first) boxes[i]->setChecked(switch_on(kSwitches[i]));
        boxes[i]->setEnabled(true);
    }
    m_filled++;
}

std::string CDlgDevices::chosen(QComboBox* box) const {
    return box->currentData().toString().toStdString();
}

void CDlgDevices::save_and_apply() {
    static uint64_t seq = 0;  // GUI thread only
    device_choice c;
    c.input = chosen(m_input);
    c.output = chosen(m_output);
    c.camera = chosen(m_camera);
    c.switches[0] = m_echo->isChecked();
    c.switches[1] = m_noise->isChecked();
    c.switches[2] = m_gain->isChecked();
    const uint64_t mine = ++seq;
    start_job([c, mine] { save_and_apply_choice(c, mine); });
}

void CDlgDevices::showEvent(QShowEvent* e) {
    parlo_dialog::showEvent(e);
    if (m_level->wanted.exchange(true)) return;
    start_job([state = m_level] {
        std::lock_guard<std::mutex> lk(g_meter_jobs);
        if (!state->wanted.load()) return;
        g_meter_owner = state.get();
        start_mic_meter([state](int level) { state->level.store(level); });
    });
    m_meter_timer->start();
}

void CDlgDevices::hideEvent(QHideEvent* e) {
    if (e) parlo_dialog::hideEvent(e);
    if (!m_level->wanted.exchange(false)) return;
    m_meter_timer->stop();
    start_job([state = m_level] {
        std::lock_guard<std::mutex> lk(g_meter_jobs);
        if (g_meter_owner != state.get()) return;
        g_meter_owner = nullptr;
        stop_mic_meter();
    });
}

void open_devices_dialog(QWidget* parent) {
    if (CDlgDevices* d = CDlgDevices::current()) {
        d->raise();
        d->activateWindow();
        return;
    }
    auto* d = new CDlgDevices(parent);
    d->setAttribute(Qt::WA_DeleteOnClose);
    d->show();
}
