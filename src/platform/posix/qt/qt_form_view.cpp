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

#include "platform/posix/qt/logo.h"
#include "shell/frmTX_To_ExcelLink.h"

namespace vi2zezir::qtwindow {

namespace {

constexpr char16_t kInstructions[] =
    u"This utility will transfer fields from the open Tendrix document to an Excel file. "
    u"Please select the Tendrix  Excel Template that you would like to use. To transfer the "
    u"fields to Excel, press the 'Send to Excel' Button. This utility will close when finished.";

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

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

void MakeWhite(QWidget* widget) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, Qt::white);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

} // namespace

QtFormView::QtFormView(OpenDialogFunction openDialog, QWidget* parent)
    : QWidget(parent), openDialog_(std::move(openDialog)) {
    setObjectName(QStringLiteral("frmTX_To_ExcelLink"));
    setWindowTitle(QString::fromStdU16String(shell::kWindowTitle));
    setWindowIcon(LogoIcon());
    setFixedSize(kClientWidth, kClientHeight);

    // The layout was drawn for an 8-point dialog font (11 pixels): the
    // instructions must fit four lines of the band, the labels 17 pixels.
    QFont dialogFont = font();
    dialogFont.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
    dialogFont.setPixelSize(11);
    setFont(dialogFont);

    // Created back to front: the band first, so the logo box, the text and
    // the rule lie on it.
    QLabel* band = MakeLabel(this, "Label2", QString(), QRect(144, 0, 401, 73));
    MakeWhite(band);

    auto* picture = new LogoBox(this);
    picture->setObjectName(QStringLiteral("Picture1"));
    picture->setGeometry(0, 0, 153, 145);

    QLabel* instructions = MakeLabel(this, "Label3", QString::fromStdU16String(kInstructions), QRect(160, 8, 369, 57));
    instructions->setWordWrap(true);
    MakeWhite(instructions);

    auto* line = new LineControl(this);
    line->setObjectName(QStringLiteral("Line1"));
    line->setGeometry(152, 72, 392, 1);

    MakeLabel(this, "Label1", QStringLiteral("Excel File:"), QRect(168, 80, 65, 17));

    txtExcelFile_ = new QLineEdit(this);
    txtExcelFile_->setObjectName(QStringLiteral("txtExcelFile"));
    txtExcelFile_->setGeometry(168, 96, 337, 19);

    cmdOtherFile_ = new QPushButton(QStringLiteral(".."), this);
    cmdOtherFile_->setObjectName(QStringLiteral("cmdOtherFile"));
    cmdOtherFile_->setGeometry(504, 96, 17, 19);

    cmdExport2Excel_ = new QPushButton(QStringLiteral("Send To Excel"), this);
    cmdExport2Excel_->setObjectName(QStringLiteral("CmdExport2Excel"));
    cmdExport2Excel_->setGeometry(384, 120, 137, 25);

    // A label takes no clicks: clicking the version does nothing.
    QLabel* version = MakeLabel(this, "Label4", QStringLiteral("Version 1.95"), QRect(168, 136, 89, 17));
    QPalette versionPalette = version->palette();
    versionPalette.setColor(QPalette::WindowText, kApplicationWorkspace);
    version->setPalette(versionPalette);

    // One text line, the status bar's temporary message, which like a simple-
    // style status bar replaces whatever else it would show.
    sb_ = new QStatusBar(this);
    sb_->setObjectName(QStringLiteral("sb"));
    sb_->setSizeGripEnabled(false);
    sb_->setGeometry(0, 148, kClientWidth, 17);
    // A rule along its top edge shows where the bar begins while it is empty.
    sb_->setStyleSheet(QStringLiteral("QStatusBar#sb { border-top: 1px solid palette(mid); }"));

    for (QPushButton* button : {cmdOtherFile_, cmdExport2Excel_}) {
        button->setAutoDefault(false);
    }
    connect(cmdOtherFile_, &QPushButton::clicked, this, [this] {
        if (events_.cmdOtherFileClick) events_.cmdOtherFileClick();
    });
    connect(cmdExport2Excel_, &QPushButton::clicked, this, [this] {
        if (events_.cmdExport2ExcelClick) events_.cmdExport2ExcelClick();
    });

    setTabOrder(txtExcelFile_, cmdExport2Excel_);
    setTabOrder(cmdExport2Excel_, cmdOtherFile_);
    setTabOrder(cmdOtherFile_, picture);
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
