// CDlgDevices: the sound and camera devices, chosen from lists, a live microphone meter, a test
// sound and the three voice processing switches. A choice is saved in [media] and applied to the
// running sound at once (a call goes on with the next buffers on the new device).
//
// Threads: GUI thread only. The lists are read, the settings written and the devices switched on
// job threads; the meter's device is read on the sound service's meter thread, and only its
// last level (an atomic) is looked at here.
#pragma once
#include <QPointer>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "ui/dialogs/dialog_base.h"

class QCheckBox;
class QComboBox;
class QProgressBar;
class QPushButton;
class QTimer;

class CDlgDevices : public parlo_dialog {
    Q_OBJECT
public:
    // camera_dir: where the cameras' device nodes are (tests give a folder of their own).
    explicit CDlgDevices(QWidget* parent = nullptr, std::string camera_dir = "/dev");
    ~CDlgDevices() override;
    // The dialog open now, or null.
    static CDlgDevices* current();

    QComboBox* input_list() const { return m_input; }
    QComboBox* output_list() const { return m_output; }
    QComboBox* camera_list() const { return m_camera; }
    QCheckBox* echo_cancel_box() const { return m_echo; }
    QCheckBox* noise_box() const { return m_noise; }
    QCheckBox* gain_box() const { return m_gain; }
    QPushButton* test_button() const { return m_test; }
    QProgressBar* meter() const { return m_meter; }
    // Times the lists were filled (tests wait for it).
    int lists_filled() const { return m_filled; }
    // Reads the lists again (devices came or went).
    void refresh();

protected:
    void showEvent(QShowEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    struct lists {
        std::vector<std::string> inputs, outputs, cameras;  // cameras: labels
        std::vector<std::string> camera_paths;
    };
    void fill(const lists& l);
    void save_and_apply();
    std::string chosen(QComboBox* box) const;
    std::string m_camera_dir;
    QComboBox* m_input;
    QComboBox* m_output;
    QComboBox* m_camera;
    QProgressBar* m_meter;
    QPushButton* m_test;
    QCheckBox* m_echo;
    QCheckBox* m_noise;
    QCheckBox* m_gain;
    QTimer* m_meter_timer;
    int m_filled = 0;
    // The meter thread's last level, and whether the meter is wanted (for its start and stop,
    // which run on jobs).
    struct meter_state {
        std::atomic<int> level{0};
        std::atomic<bool> wanted{false};
    };
    std::shared_ptr<meter_state> m_level = std::make_shared<meter_state>();
};

// Opens the dialog over parent, or raises the one already open. GUI thread.
void open_devices_dialog(QWidget* parent);
