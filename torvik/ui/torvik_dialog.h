#pragma once

#include <QDialog>
#include <QString>
#include <memory>

#include "devlink/config_settings.h"
#include "devlink/device_link.h"
#include "devlink/serial_comm.h"
#include "qtkit/worker_sink.h"
#include "serialport/cancel_event.h"
#include "torvik/log_relay.h"
#include "worker/worker_observer.h"
#include "worker/worker_runner.h"

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QShortcut;

namespace k5::qtkit {
class MessageBoxes;
}  // namespace k5::qtkit

namespace k5::torvik {

class GlobalHotKey;

struct TorvikOptions {
    // Where a saved report goes; empty means CfgLog.txt beside the program when that folder
    // is writable and not a system folder, else in the documents folder (ReportPathIn).
    QString reportPath;
    // Scales every pause of a run; demonstrations and tests shorten a run with it.
    double timeScale = 1.0;
};

// The configuration tool's main window: port choice, link test, the settings and status
// dialogs, a configuration run on a worker thread with its log, and the burn-in and
// register-reset service functions.
class CTORVIKDlg : public QDialog {
    Q_OBJECT

public:
    explicit CTORVIKDlg(qtkit::MessageBoxes& boxes, TorvikOptions options = {},
                        QWidget* parent = nullptr);
    ~CTORVIKDlg() override;
    CTORVIKDlg(const CTORVIKDlg&) = delete;
    CTORVIKDlg& operator=(const CTORVIKDlg&) = delete;

    // Appends to the end of the log pane and scrolls it on by the lines added. The user may
    // undo his own typing in the pane, but not past an appended text.
    void AppendLog(const QString& text);

    bool IsRunning() const { return running_; }
    bool IsPortOpen() const { return port_.IsOpen() != 0; }
    const ConfigSettings& Settings() const { return settings_; }
    // The file the next save writes to.
    QString ReportPath() const;

    // Alt+D: resets the amplifier's registers to their defaults, only with the port open
    // and no run active. Pressed while another program is active, it brings the window to
    // the front and asks first.
    void ResetRegisters();

    // Closing: stops a run (waiting for its worker), then closes the port.
    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    friend class qtkit::QueuedWorkerSink<CTORVIKDlg>;

    void BuildControls();
    void ApplyPhase();

    void OnOpenClose();
    void OnTestLink();
    void OnUserSettings();
    void OnStatus();
    void OnStartStop();
    void OnClear();
    void OnBurnIn(bool on);
    // Whether the window or one of its dialogs is the active window.
    bool IsActive() const;

    void StartRun();
    void StopRun();
    // A run's report, delivered on the window's thread; reports of a run that was stopped or
    // has completed are dropped.
    void OnWorkerEvent(const WorkerEvent& event);
    void DrainLog();
    void OnConfigurationComplete(int resultCode);
    void SaveReport();
    void ShutDown();

    qtkit::MessageBoxes& boxes_;
    QString reportPath_;

    CSerialComm port_;
    CancelEvent cancel_;
    DeviceLink link_{port_, cancel_};
    ConfigSettings settings_;

    // The running phase: from Start until Stop or the end of the completion handling, which
    // outlasts the worker by the save question.
    bool running_ = false;
    bool resetting_ = false;  // a register reset and its result box are under way
    LogRelay logRelay_;
    std::unique_ptr<WorkerObserver> sink_;
    WorkerRunner runner_;

    QComboBox* portList_ = nullptr;
    QPushButton* openButton_ = nullptr;
    QPushButton* testLinkButton_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QPushButton* userSettingsButton_ = nullptr;
    QPushButton* statusButton_ = nullptr;
    QPushButton* startButton_ = nullptr;
    QPushButton* clearButton_ = nullptr;
    QPlainTextEdit* logPane_ = nullptr;
    QPushButton* burnInOnButton_ = nullptr;
    QPushButton* burnInOffButton_ = nullptr;
    QShortcut* resetShortcut_ = nullptr;
    GlobalHotKey* hotKey_ = nullptr;
};

}  // namespace k5::torvik
