#include "veldra/ui/calibration_wizard_dlg.h"

#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <string_view>

#include "qtkit/dialog_font.h"
#include "qtkit/dialog_units.h"
#include "qtkit/message_boxes.h"
#include "veldra/calibration.h"
#include "veldra/event_codes.h"
#include "veldra/frame_reaction.h"
#include "veldra/page_flow.h"
#include "veldra/page_texts.h"
#include "veldra/ui/calibration_page.h"
#include "veldra/ui/com_port_page.h"
#include "veldra/ui/detect_page.h"
#include "veldra/ui/preparation_page.h"
#include "veldra/ui/warm_up_page.h"
#include "veldra/ui/welcome_page.h"
#include "veldra/ui/wizard_picture.h"
#include "veldra/warm_up.h"

namespace k5::veldra {

namespace {

// The frame's client area and places, in dialog units of its 10-point font.
constexpr int kWidthUnits = 339;
constexpr int kHeightUnits = 241;
constexpr int kFontPoints = 10;
constexpr int kHeaderCellHeight = 25;
const QRect kHeaderUnits(10, 5, 280, 35);
const QRect kPictureUnits(295, 5, 37, 32);
const QRect kUpperLineUnits(6, 45, 325, 1);
const QRect kPageUnits(5, 45, 330, 165);
const QRect kLowerLineUnits(7, 215, 325, 1);

QString FromView(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QRect Place(const qtkit::DialogUnits& units, const QRect& where) {
    return units.Rect(where.x(), where.y(), where.width(), where.height());
}

}  // namespace

CCalibrationWizardDlg::CCalibrationWizardDlg(qtkit::MessageBoxes& boxes, WizardOptions options,
                                             QWidget* parent)
    : QDialog(parent),
      boxes_(boxes),
      options_(std::move(options)),
      sink_(std::make_unique<qtkit::QueuedWorkerSink<CCalibrationWizardDlg>>(*this)),
      runner_(wizard_.Cancel(), *sink_) {
    wizard_.Link().SetTimeScale(options_.timeScale);

    setWindowIcon(WizardIcon());
    setWindowTitle(FromView(kWizardCaption));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(qtkit::SansFont(kFontPoints));
    BuildControls();
    ShowPage(kPageWelcome, true);
}

CCalibrationWizardDlg::~CCalibrationWizardDlg() {
    ShutDown();
}

void CCalibrationWizardDlg::BuildControls() {
    const qtkit::DialogUnits units = WizardUnits(font());
    setFixedSize(units.Size(kWidthUnits, kHeightUnits));

    header_ = new QLabel(FromView(kWizardHeader), this);
    header_->setObjectName(QStringLiteral("header"));
    header_->setFont(qtkit::CellHeightFont(kHeaderCellHeight, QFont::Normal));
    header_->setGeometry(Place(units, kHeaderUnits));
    header_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("picture"));
    const QRect pictureRect = Place(units, kPictureUnits);
    picture->setGeometry(pictureRect);
    picture->setPixmap(WizardPicture(pictureRect.size()));

    for (const QRect& where : {kUpperLineUnits, kLowerLineUnits}) {
        auto* line = new QFrame(this);
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        const QRect rect = Place(units, where);
        line->setGeometry(rect.x(), rect.y(), rect.width(), std::max(rect.height(), 2));
    }

    // The pages, in list order; each covers the page rectangle and starts hidden.
    welcomePage_ = new CWelcomePage(this);
    preparationPage_ = new CPreparationPage(this);
    comPortPage_ = new CComPortPage(this, options_.portExists);
    detectPage_ = new CDetectPage(this);
    warmUpPage_ = new CWarmUpPage(this);
    calibrationPage_ = new CCalibrationPage(this);
    pages_ = {welcomePage_, preparationPage_, comPortPage_,
              detectPage_,  warmUpPage_,      calibrationPage_};
    const QRect pageRect = Place(units, kPageUnits);
    for (WizardPage* page : pages_) {
        page->hide();
        page->setGeometry(pageRect);
    }
    warmUpPage_->SetCountdownMinutes(options_.countdownMinutes);
    connect(preparationPage_, &CPreparationPage::warmedUpChecked, this,
            &CCalibrationWizardDlg::OnWarmedUpChecked);
    connect(warmUpPage_, &CWarmUpPage::countdownFinished, this,
            [this] { OnWarmUpEvent(kWarmUpFinished); });

    const auto button = [&](const char* name, const char* caption, QRect where) {
        auto* control = new QPushButton(QString::fromLatin1(caption), this);
        control->setObjectName(QString::fromLatin1(name));
        control->setAutoDefault(false);
        control->setGeometry(Place(units, where));
        return control;
    };
    previous_ = button("previousButton", "&Previous", QRect(170, 220, 50, 14));
    next_ = button("nextButton", "&Next", QRect(225, 220, 50, 14));
    exit_ = button("exitButton", "E&xit", QRect(281, 220, 50, 14));
    // Enter presses Next while it is enabled, unless another button has the focus: the
    // buttons are not auto-default, so the focused one takes Enter through the filter.
    next_->setDefault(true);
    for (QPushButton* control : {previous_, next_, exit_}) {
        control->installEventFilter(this);
    }
    connect(previous_, &QPushButton::clicked, this, &CCalibrationWizardDlg::OnPrevious);
    connect(next_, &QPushButton::clicked, this, &CCalibrationWizardDlg::OnNext);
    connect(exit_, &QPushButton::clicked, this, &CCalibrationWizardDlg::OnCancel);
}

void CCalibrationWizardDlg::ShowPage(unsigned index, bool apply) {
    WizardPage* entered = nullptr;
    for (unsigned i = 1; i <= kPageCount; ++i) {
        WizardPage* page = pages_[i - 1];
        if (i != index) {
            page->hide();
            continue;
        }
        if (page->isHidden()) {
            entered = page;
        }
        page->show();
        pageOnShow_ = page;
    }
    if (entered != nullptr) {
        entered->Enter();
    }

    const ShownPage shown = ShowingPage(index, curPage_);
    curPage_ = shown.current;
    if (apply) {
        EnableButtons(shown.buttons);
    }
}

void CCalibrationWizardDlg::EnableButtons(int mask) {
    previous_->setEnabled((mask & kButtonPrevious) != 0);
    next_->setEnabled((mask & kButtonNext) != 0);
    exit_->setEnabled((mask & kButtonExit) != 0);
}

int CCalibrationWizardDlg::ButtonMask() const {
    return (previous_->isEnabled() ? kButtonPrevious : 0) | (next_->isEnabled() ? kButtonNext : 0) |
           (exit_->isEnabled() ? kButtonExit : 0);
}

void CCalibrationWizardDlg::OnNext() {
    const NextStep step = NextFrom(curPage_, warmedUp_);
    curPage_ = step.page;
    if (step.buttons) {
        EnableButtons(*step.buttons);
    }
    if (step.takeSelectedPort) {
        comPort_ = comPortPage_->GetSelectedPort();
    }
    if (step.worker != WizardWorker::None) {
        StartWorker(step.worker);
    }
    ShowPage(step.page, !step.buttons);
}

void CCalibrationWizardDlg::OnPrevious() {
    if (IsPortOpen()) {
        wizard_.Port().Close();
    }
    curPage_ = PreviousFrom(curPage_);
    ShowPage(curPage_, true);
}

void CCalibrationWizardDlg::OnCancel() {
    if (curPage_ == kPageWarmUp && worker_ == WizardWorker::WarmUp && runner_.Running()) {
        const uint64_t asked = runner_.CurrentRun();
        const qtkit::MessageAnswer answer =
            boxes_.Show(this, {FromView(kConfirmCancelCaption), FromView(kConfirmCancelWarmUp),
                               qtkit::MessageIcon::Question, qtkit::MessageButtons::OkCancel});
        if (answer != qtkit::MessageAnswer::Ok) {
            return;
        }
        // The countdown may have run out, or the warm-up failed, while the question was open:
        // the answer then concerns a warm-up that is over, and changes nothing.
        if (!runner_.Running() || runner_.CurrentRun() != asked) {
            return;
        }
        StopWorker();
        OnWarmUpEvent(kWarmUpCancelled);
        return;
    }
    const qtkit::MessageAnswer answer =
        boxes_.Show(this, {FromView(kConfirmExitCaption), FromView(kConfirmExit),
                           qtkit::MessageIcon::Question, qtkit::MessageButtons::OkCancel});
    if (answer != qtkit::MessageAnswer::Ok) {
        return;
    }
    ShutDown();
    QDialog::done(QDialog::Rejected);
}

void CCalibrationWizardDlg::StopWorker() {
    runner_.Stop();
    worker_ = WizardWorker::None;
}

void CCalibrationWizardDlg::MuteAmplifier() {
    if (IsPortOpen()) {
        veldra::MuteAmplifier(wizard_.Link());
    }
}

void CCalibrationWizardDlg::OnWorkerEvent(const WorkerEvent& event) {
    if (!runner_.Accept(event)) {
        return;
    }
    React(event);
}

void CCalibrationWizardDlg::OnWarmedUpChecked(bool warmedUp) {
    warmedUp_ = warmedUp;
}

void CCalibrationWizardDlg::OnWarmUpEvent(uint32_t code) {
    React(WorkerEvent{kMsgWarmUpEvent, code, 0, 0});
}

void CCalibrationWizardDlg::StartWorker(WizardWorker worker) {
    worker_ = worker;
    switch (worker) {
        case WizardWorker::Detection: {
            const DetectionRequest request{static_cast<unsigned>(comPort_ > 0 ? comPort_ : 0),
                                           warmedUp_, options_.portExists};
            runner_.Start([this, request](WorkerObserver& reporter) {
                RunDetection(wizard_.Link(), request, reporter);
            });
            break;
        }
        case WizardWorker::WarmUp:
            runner_.Start(
                [this](WorkerObserver& reporter) { RunWarmUp(wizard_.Link(), reporter); });
            break;
        case WizardWorker::Calibration:
            runner_.Start([this](WorkerObserver& reporter) {
                RunCalibration(wizard_.Link(), calib_, reporter);
            });
            break;
        case WizardWorker::None:
            break;
    }
}

// The frame's tables: mute, forward, buttons, port, warmed-up flag, worker, port close, in
// that order; the countdown's end then goes on to the calibration as Next would. A final
// report is acted on only once its worker has ended, so the mute and the port close never
// meet a worker still on the line.
void CCalibrationWizardDlg::React(const WorkerEvent& event) {
    const FrameReaction reaction = ReactionTo(event);
    if (reaction.endWorker) {
        runner_.Finish();
        worker_ = WizardWorker::None;
    }
    if (reaction.mute) {
        MuteAmplifier();
    }
    if (reaction.forward) {
        Forward(event);
    }
    if (reaction.buttons) {
        EnableButtons(*reaction.buttons);
    }
    if (reaction.takePort) {
        comPort_ = event.param;
    }
    if (reaction.setWarmedUp) {
        warmedUp_ = true;
    }
    if (reaction.stopWorker) {
        StopWorker();
    }
    if (reaction.closePort) {
        wizard_.Port().Close();
    }
    if (reaction.stopWorker) {
        OnNext();
    }
}

// To the page on show, if it is the page the event is meant for.
void CCalibrationWizardDlg::Forward(const WorkerEvent& event) {
    switch (event.message) {
        case kMsgDetectDone:
            if (pageOnShow_ == detectPage_) {
                detectPage_->ShowDetectResult(event.code, event.param);
            }
            break;
        case kMsgCalibProgress:
            if (pageOnShow_ == calibrationPage_) {
                calibrationPage_->ShowCalibProgress(event.code);
            }
            break;
        case kMsgWarmUpEvent:
            if (pageOnShow_ == warmUpPage_) {
                warmUpPage_->OnWarmUpEvent(event.code);
            }
            break;
        default:
            break;
    }
}

// The frame's end: the worker is cancelled and joined before anything it uses goes. A
// warm-up or calibration broken off leaves the amplifier in its test state with the tone on,
// so it is turned down and muted before the port closes.
void CCalibrationWizardDlg::ShutDown() {
    const bool amplifierInTestState =
        worker_ == WizardWorker::WarmUp || worker_ == WizardWorker::Calibration;
    StopWorker();
    if (amplifierInTestState) {
        MuteAmplifier();
    }
    if (IsPortOpen()) {
        wizard_.Port().Close();
    }
}

void CCalibrationWizardDlg::reject() {
    OnCancel();
}

bool CCalibrationWizardDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress &&
        (watched == previous_ || watched == next_ || watched == exit_)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        auto* button = static_cast<QPushButton*>(watched);
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && button->isEnabled()) {
            button->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CCalibrationWizardDlg::keyPressEvent(QKeyEvent* event) {
    // Escape never ends the wizard, nor asks the exit question.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CCalibrationWizardDlg::closeEvent(QCloseEvent* event) {
    // The close box asks as Exit does; a confirmed exit has already ended the dialog.
    event->ignore();
    if (isVisible()) {
        OnCancel();
    }
}

}  // namespace k5::veldra
