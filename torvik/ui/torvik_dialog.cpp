#include "torvik/ui/torvik_dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTextCursor>
#include <QTextDocument>
#include <filesystem>
#include <string_view>

#include "devlink/commands.h"
#include "qtkit/dialog_font.h"
#include "qtkit/dialog_units.h"
#include "qtkit/message_boxes.h"
#include "serialport/com_port.h"
#include "torvik/configuration.h"
#include "torvik/configuration_report.h"
#include "torvik/control_states.h"
#include "torvik/result_texts.h"
#include "torvik/run_reporter.h"
#include "torvik/service_operations.h"
#include "torvik/ui/global_hot_key.h"
#include "torvik/ui/report_location.h"
#include "torvik/ui/status_dialog.h"
#include "torvik/ui/torvik_icon.h"
#include "torvik/ui/user_settings_dialog.h"

namespace k5::torvik {

namespace {

constexpr auto kWindowTitle = "K5 Post-AMP Config V1.3.0";
constexpr int kPortCount = 8;

constexpr auto kIntroduction =
    "K5 Power AMP configuration program.\n\nBefore start the configuration process,please "
    "note:\n1) Connect PC with K5 using RS232 cable and make sure the connection is "
    "reliable.\n2) Connect K5 with 4ohms load on the output connector. \n3) During the "
    "configuration process,please do not disconnect the RS232. \n";

// The window's client area in dialog units: the controls reach 312 across and 276 down.
constexpr int kWidthUnits = 324;
constexpr int kHeightUnits = 282;

QString ToQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

CTORVIKDlg::CTORVIKDlg(qtkit::MessageBoxes& boxes, TorvikOptions options, QWidget* parent)
    : QDialog(parent),
      boxes_(boxes),
      reportPath_(options.reportPath),
      sink_(std::make_unique<qtkit::QueuedWorkerSink<CTORVIKDlg>>(*this)),
      runner_(cancel_, *sink_) {
    link_.SetTimeScale(options.timeScale);

    SelectAmplifierBaudRate(port_);

    setWindowIcon(TorvikIcon());
    setWindowTitle(QString::fromLatin1(kWindowTitle));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(qtkit::DialogFont());
    BuildControls();

    logPane_->setPlainText(QString::fromLatin1(kIntroduction));
    logPane_->document()->clearUndoRedoStacks();
    ApplyPhase();

    // System-wide where the platform lets us grab the key; a refused grab is not reported.
    // The tool's own shortcut covers the platforms without a grab.
    hotKey_ = new GlobalHotKey(this);
    hotKey_->Register();
    connect(hotKey_, &GlobalHotKey::activated, this, &CTORVIKDlg::ResetRegisters);
    resetShortcut_ = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_D), this);
    resetShortcut_->setContext(Qt::ApplicationShortcut);
    resetShortcut_->setAutoRepeat(false);  // a held key is one press
    connect(resetShortcut_, &QShortcut::activated, this, &CTORVIKDlg::ResetRegisters);
}

CTORVIKDlg::~CTORVIKDlg() {
    ShutDown();
}

void CTORVIKDlg::BuildControls() {
    const qtkit::DialogUnits units(font());
    setFixedSize(units.Size(kWidthUnits, kHeightUnits));

    const auto button = [&](const char* name, const char* caption, QRect where) {
        auto* control = new QPushButton(QString::fromLatin1(caption), this);
        control->setObjectName(QString::fromLatin1(name));
        control->setAutoDefault(false);  // Enter presses nothing in this window
        control->setGeometry(where);
        return control;
    };

    portList_ = new QComboBox(this);
    portList_->setObjectName(QStringLiteral("portList"));
    ListComPorts();  // gives adapters seen for the first time their numbers
    for (int port = 1; port <= kPortCount; ++port) {
        portList_->addItem(QStringLiteral("COM%1").arg(port));
        portList_->setItemData(port - 1,
                               QString::fromStdString(ComPortToolTip(DescribeComPort(port))),
                               Qt::ToolTipRole);
    }
    portList_->setCurrentIndex(0);
    const QRect listBox = units.Rect(12, 12, 48, 18);
    portList_->setGeometry(listBox.x(), listBox.center().y() - portList_->sizeHint().height() / 2,
                           listBox.width(), portList_->sizeHint().height());

    openButton_ = button("openButton", "Open", units.Rect(66, 12, 48, 18));
    testLinkButton_ = button("testLinkButton", "Test Link", units.Rect(120, 12, 48, 18));

    statusLabel_ = new QLabel(this);
    statusLabel_->setObjectName(QStringLiteral("statusLabel"));
    statusLabel_->setGeometry(units.Rect(174, 15, 138, 12));
    statusLabel_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    userSettingsButton_ = button("userSettingsButton", "User Settings", units.Rect(12, 36, 66, 18));
    statusButton_ = button("statusButton", "Status", units.Rect(90, 36, 66, 18));
    startButton_ = button("startButton", "Start", units.Rect(168, 36, 66, 18));
    clearButton_ = button("clearButton", "Clear", units.Rect(246, 36, 66, 18));

    logPane_ = new QPlainTextEdit(this);
    logPane_->setObjectName(QStringLiteral("logPane"));
    logPane_->setGeometry(units.Rect(12, 60, 300, 192));
    logPane_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    auto* burnInLabel = new QLabel(QStringLiteral("Burn-in Mode:"), this);
    burnInLabel->setGeometry(units.Rect(12, 258, 28, 18));
    burnInLabel->setWordWrap(true);
    burnInLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    burnInOnButton_ = button("burnInOnButton", "ON", units.Rect(42, 258, 36, 18));
    burnInOffButton_ = button("burnInOffButton", "OFF", units.Rect(84, 258, 36, 18));

    connect(openButton_, &QPushButton::clicked, this, &CTORVIKDlg::OnOpenClose);
    connect(testLinkButton_, &QPushButton::clicked, this, &CTORVIKDlg::OnTestLink);
    connect(userSettingsButton_, &QPushButton::clicked, this, &CTORVIKDlg::OnUserSettings);
    connect(statusButton_, &QPushButton::clicked, this, &CTORVIKDlg::OnStatus);
    connect(startButton_, &QPushButton::clicked, this, &CTORVIKDlg::OnStartStop);
    connect(clearButton_, &QPushButton::clicked, this, &CTORVIKDlg::OnClear);
    connect(burnInOnButton_, &QPushButton::clicked, this, [this] { OnBurnIn(true); });
    connect(burnInOffButton_, &QPushButton::clicked, this, [this] { OnBurnIn(false); });
}

void CTORVIKDlg::ApplyPhase() {
    const ControlStates states = ControlStatesFor(IsPortOpen(), running_);
    portList_->setEnabled(states.portList);
    openButton_->setEnabled(states.openClose);
    openButton_->setText(ToQString(states.openCaption));
    testLinkButton_->setEnabled(states.testLink);
    userSettingsButton_->setEnabled(states.userSettings);
    statusButton_->setEnabled(states.status);
    startButton_->setEnabled(states.startStop);
    startButton_->setText(ToQString(states.startCaption));
    clearButton_->setEnabled(states.clear);
    burnInOnButton_->setEnabled(states.burnIn);
    burnInOffButton_->setEnabled(states.burnIn);
}

void CTORVIKDlg::AppendLog(const QString& text) {
    QTextDocument* document = logPane_->document();
    const int linesBefore = document->lineCount();
    QTextCursor cursor(document);
    cursor.movePosition(QTextCursor::End);
    // Switching undo off for the insertion keeps it out of the user's undo history.
    document->setUndoRedoEnabled(false);
    cursor.insertText(text);
    document->setUndoRedoEnabled(true);
    QScrollBar* bar = logPane_->verticalScrollBar();
    bar->setValue(bar->value() + (document->lineCount() - linesBefore));
}

void CTORVIKDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            event->accept();  // neither closes the window nor presses a button
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void CTORVIKDlg::OnOpenClose() {
    if (running_) {
        return;
    }
    if (IsPortOpen()) {
        port_.Close();
        statusLabel_->setText(ToQString(kPortClosedText));
        statusLabel_->setToolTip({});
    } else {
        port_.SetPortNumber(static_cast<uint8_t>(portList_->currentIndex() + 1));
        if (port_.Open() != 1) {
            statusLabel_->setText(ToQString(kPortErrorText));
            statusLabel_->setToolTip(QString::fromStdString(port_.LastErrorText()));
            return;
        }
        statusLabel_->setText(ToQString(kPortOpenedText));
        statusLabel_->setToolTip({});
    }
    ApplyPhase();
}

void CTORVIKDlg::OnTestLink() {
    if (running_) {
        return;
    }
    const bool linked = link_.SendCommand(cmd::kModelQuery, cmd::kModelIsK5, 0) == 1;
    statusLabel_->setText(ToQString(linked ? kLinkOkText : kLinkErrorText));
}

void CTORVIKDlg::OnUserSettings() {
    if (running_) {
        return;
    }
    CUserSettingsDlg dialog(&settings_, boxes_, this);
    dialog.exec();
}

void CTORVIKDlg::OnStatus() {
    if (running_) {
        return;
    }
    CStatusDlg dialog(&settings_, this);
    dialog.exec();
}

void CTORVIKDlg::OnStartStop() {
    if (running_) {
        StopRun();
    } else if (IsPortOpen()) {
        StartRun();
    }
}

void CTORVIKDlg::StartRun() {
    // The previous run's worker has been joined (by Stop or by its completion), so nothing
    // it logged is still on the way.
    logRelay_.Take();
    logPane_->clear();

    running_ = true;
    // A Stop that came after the last wait of the previous run left no signal: the runner
    // clears it, and the new run does not take it for its own.
    runner_.Start([this](WorkerObserver& reporter) {
        RunReporter observer(logRelay_, reporter);
        RunConfiguration(link_, settings_, observer);
    });
    ApplyPhase();
}

void CTORVIKDlg::StopRun() {
    running_ = false;
    runner_.Stop();
    DrainLog();  // what the run logged before it saw the cancel comes first
    ApplyPhase();
    AppendLog(ToQString(kCancelledText));
}

void CTORVIKDlg::OnWorkerEvent(const WorkerEvent& event) {
    // A run the user stopped, or one before it, has nothing more to say.
    if (!runner_.Accept(event)) {
        return;
    }
    switch (event.message) {
        case kMsgLogPending:
            DrainLog();
            break;
        case kMsgConfigurationDone:
            OnConfigurationComplete(event.param);
            break;
        default:
            break;
    }
}

void CTORVIKDlg::DrainLog() {
    const std::string text = logRelay_.Take();
    if (!text.empty()) {
        AppendLog(ToQString(text));
    }
}

void CTORVIKDlg::OnClear() {
    logRelay_.Take();  // text the worker logged before the click goes with the rest
    logPane_->clear();
}

void CTORVIKDlg::OnBurnIn(bool on) {
    if (running_) {
        return;
    }
    SetBurnInMode(link_, on);
}

bool CTORVIKDlg::IsActive() const {
    // The window itself, or one of its dialogs.
    for (const QWidget* window = QApplication::activeWindow(); window != nullptr;
         window = window->parentWidget()) {
        if (window == this) {
            return true;
        }
    }
    return false;
}

void CTORVIKDlg::ResetRegisters() {
    // One press, one reset: the grabbed key still arrives while the question or the result
    // box is open.
    if (running_ || resetting_ || !IsPortOpen()) {
        return;
    }
    resetting_ = true;
    // Alt+D is also the address-bar key of browsers and file managers: pressed there, it was
    // most likely not meant for the amplifier.
    if (!IsActive()) {
        if (isMinimized()) {
            showNormal();
        }
        raise();
        activateWindow();
        const qtkit::MessageAnswer answer =
            boxes_.Show(this, {ToQString(kMessageCaption), ToQString(kRegisterResetQuestion),
                               qtkit::MessageIcon::Question, qtkit::MessageButtons::YesNo,
                               /*unasked=*/true});
        if (answer != qtkit::MessageAnswer::Yes || running_ || !IsPortOpen()) {
            resetting_ = false;
            return;
        }
    }
    const bool reset = ResetRegistersToDefaults(link_);
    boxes_.Show(this, {ToQString(kMessageCaption), ToQString(RegisterResetText(reset)),
                       reset ? qtkit::MessageIcon::None : qtkit::MessageIcon::Exclamation,
                       qtkit::MessageButtons::Ok});
    resetting_ = false;
}

void CTORVIKDlg::OnConfigurationComplete(int resultCode) {
    if (resultCode < kResultSuccess || resultCode > kLastResultCode) {
        return;
    }
    runner_.Finish();  // completing was the worker's last act
    DrainLog();
    if (resultCode == kResultSuccess) {
        const qtkit::MessageAnswer answer =
            boxes_.Show(this, {ToQString(kMessageCaption), ToQString(kSaveReportQuestion),
                               qtkit::MessageIcon::Question, qtkit::MessageButtons::YesNo});
        if (answer == qtkit::MessageAnswer::Yes) {
            SaveReport();
        }
    } else {
        AppendLog(ToQString(CompletionText(resultCode)));
    }
    running_ = false;
    ApplyPhase();
}

QString CTORVIKDlg::ReportPath() const {
    // Chosen at each save: the folder beside the program may have become writable or not.
    return reportPath_.isEmpty() ? ReportPathIn(CurrentReportFolders()) : reportPath_;
}

void CTORVIKDlg::SaveReport() {
    const QString path = ReportPath();
    const QByteArray text = logPane_->toPlainText().toUtf8();
    const ReportResult result = SaveConfigurationReport(
#ifdef _WIN32
        // The program's folder may have any name: no detour through the ANSI code page.
        std::filesystem::path(path.toStdWString()),
#else
        std::filesystem::path(QFile::encodeName(path).toStdString()),
#endif
        std::string_view(text.constData(), static_cast<size_t>(text.size())));
    // Every outcome names the file, so the technician knows where the report went, or which
    // file could not be written.
    boxes_.ShowWithDetail(this,
                          {ToQString(kMessageCaption), ToQString(ReportResultText(result)),
                           result == ReportResult::SaveDataOk ? qtkit::MessageIcon::None
                                                              : qtkit::MessageIcon::Exclamation,
                           qtkit::MessageButtons::Ok},
                          QDir::toNativeSeparators(path));
}

void CTORVIKDlg::ShutDown() {
    running_ = false;
    runner_.Stop();
    if (IsPortOpen()) {
        port_.Close();
    }
    if (hotKey_ != nullptr) {
        delete hotKey_;  // gives the key back to the desktop
        hotKey_ = nullptr;
    }
}

void CTORVIKDlg::reject() {
    ShutDown();
    ApplyPhase();
    QDialog::reject();
}

}  // namespace k5::torvik
