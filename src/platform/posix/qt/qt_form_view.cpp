#include "platform/posix/qt/qt_form_view.h"

#include <QCloseEvent>
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QWindow>

#include <vector>

#include "platform/posix/qt/logo.h"
#include "shell/form_layout.h"
#include "shell/frmTX_To_ExcelLink.h"

namespace vi2zezir::qtwindow {

namespace {

// Windows draws the version text in the application-workspace colour; Qt's
// palette has no such role, so the classic value is spelled out.
const QColor kApplicationWorkspace(0xAB, 0xAB, 0xAB);

// The logo box: the artwork at its top-left corner, focusable like a picture
// box, and transparent around the artwork so the white band shows through
// where the two overlap.
class LogoBox final : public QWidget {
public:
    explicit LogoBox(QWidget* parent) : QWidget(parent), logo_(LogoPixmap(QSize(150, 144))) {
        setFocusPolicy(Qt::StrongFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.drawPixmap(0, 0, logo_);
    }

private:
    QPixmap logo_;
};

// A one-pixel rule in the default line colour (the window text colour).
class LineControl final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::WindowText));
    }
};

void MakeWhite(QWidget* widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, Qt::white);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// One control of the layout, at its place, with its text and colours.
QWidget* MakeControl(QWidget* parent, const shell::ControlLayout& layout) {
    const QString text = QString::fromUtf16(layout.text.data(), static_cast<qsizetype>(layout.text.size()));
    QWidget* control = nullptr;
    switch (layout.kind) {
    case shell::ControlKind::TextBox: control = new QLineEdit(text, parent); break;
    case shell::ControlKind::Button: {
        auto* button = new QPushButton(text, parent);
        button->setAutoDefault(false);
        control = button;
        break;
    }
    case shell::ControlKind::Picture: control = new LogoBox(parent); break;
    case shell::ControlKind::StatusBar: {
        // One text line, the status bar's temporary message, which like a
        // simple-style status bar replaces whatever else it would show.
        auto* bar = new QStatusBar(parent);
        bar->setSizeGripEnabled(false);
        // A rule along its top edge shows where the bar begins while it is empty.
        bar->setStyleSheet(QStringLiteral("QStatusBar { border-top: 1px solid palette(mid); }"));
        control = bar;
        break;
    }
    case shell::ControlKind::Line: control = new LineControl(parent); break;
    case shell::ControlKind::Label: {
        // A label takes no clicks: clicking the version does nothing.
        auto* label = new QLabel(text, parent);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);
        control = label;
        break;
    }
    }
    control->setObjectName(QString::fromLatin1(layout.name.data(), static_cast<qsizetype>(layout.name.size())));
    control->setGeometry(layout.x, layout.y, layout.width, layout.height);
    switch (layout.colour) {
    case shell::ControlColour::Default: break;
    case shell::ControlColour::WhiteBackground: MakeWhite(control); break;
    case shell::ControlColour::WorkspaceText: {
        QPalette palette = control->palette();
        palette.setColor(QPalette::WindowText, kApplicationWorkspace);
        control->setPalette(palette);
        break;
    }
    }
    return control;
}

} // namespace

QtFormView::QtFormView(OpenDialogFunction openDialog, QWidget* parent)
    : QWidget(parent), openDialog_(std::move(openDialog)) {
    setObjectName(QStringLiteral("frmTX_To_ExcelLink"));
    setWindowTitle(QString::fromStdU16String(shell::kWindowTitle));
    setWindowIcon(LogoIcon());
    setFixedSize(shell::kClientWidth, shell::kClientHeight);

    QFont dialogFont = font();
    dialogFont.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
    dialogFont.setPixelSize(shell::kDialogFontPixels);
    setFont(dialogFont);

    // The layout lists its controls top first; a later sibling lies over an
    // earlier one, so they are created from the bottom up.
    std::vector<QWidget*> tabStops;
    for (auto layout = shell::kFormLayout.rbegin(); layout != shell::kFormLayout.rend(); ++layout) {
        QWidget* control = MakeControl(this, *layout);
        if (shell::IsTabStop(layout->kind)) tabStops.insert(tabStops.begin(), control);
        switch (layout->id) {
        case shell::ControlId::txtExcelFile: txtExcelFile_ = static_cast<QLineEdit*>(control); break;
        case shell::ControlId::cmdOtherFile: cmdOtherFile_ = static_cast<QPushButton*>(control); break;
        case shell::ControlId::CmdExport2Excel: cmdExport2Excel_ = static_cast<QPushButton*>(control); break;
        case shell::ControlId::sb: sb_ = static_cast<QStatusBar*>(control); break;
        default: break;
        }
    }
    for (std::size_t i = 1; i < tabStops.size(); ++i) {
        setTabOrder(tabStops[i - 1], tabStops[i]);
    }
    // The picker button overlaps the path box's last column. A Qt push
    // button draws its frame right to its edge, so it lies over the box here
    // to show that frame whole.
    cmdOtherFile_->raise();

    connect(cmdOtherFile_, &QPushButton::clicked, this, [this] {
        if (events_.cmdOtherFileClick) events_.cmdOtherFileClick();
    });
    connect(cmdExport2Excel_, &QPushButton::clicked, this, [this] {
        if (events_.cmdExport2ExcelClick) events_.cmdExport2ExcelClick();
    });
    txtExcelFile_->setFocus();
}

void QtFormView::SetEvents(FormEvents events) { events_ = std::move(events); }

void QtFormView::Show() { show(); }

void QtFormView::SetTopMost(bool onTop) {
    Qt::WindowFlags flags = windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, onTop);
    if (QWindow* window = windowHandle()) {
        // Changing the flags of a shown widget would hide and recreate its
        // window; on the native window only the layer changes, as it should.
        overrideWindowFlags(flags);
        window->setFlags(flags);
    } else {
        setWindowFlags(flags);
    }
}

std::u16string QtFormView::PathText() const { return txtExcelFile_->text().toStdU16String(); }

void QtFormView::SetPathText(const std::u16string& text) { txtExcelFile_->setText(QString::fromStdU16String(text)); }

void QtFormView::SetStatusText(const std::u16string& text) {
    if (text.empty()) {
        sb_->clearMessage();
    } else {
        sb_->showMessage(QString::fromStdU16String(text));
    }
    // The run takes no window events between its steps; painting the line
    // now is what lets the user follow its progress.
    if (sb_->isVisible()) {
        sb_->repaint();
    }
}

std::u16string QtFormView::ShowOpenDialog(const shell::OpenDialogOptions& options) {
    return openDialog_(this, options);
}

void QtFormView::Close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    close();
}

void QtFormView::closeEvent(QCloseEvent* event) {
    // Closed by the user: the form unloads, which may call Close() back.
    if (!closed_) {
        closed_ = true;
        if (events_.formUnload) events_.formUnload();
    }
    event->accept();
}

} // namespace vi2zezir::qtwindow
