#include "gui/FlatFilePanel.h"

#include <QCheckBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "datasources/DataLink.h"
#include "gui/InputBoxes.h"
#include "gui/MainWindowPictures.h"

namespace {

template <typename W>
W* named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, QWidget* buddy = nullptr) {
    auto* l = named(new QLabel(text, parent), name);
    if (buddy != nullptr)
        l->setBuddy(buddy);
    return l;
}

// Sets the enabled state and, for input boxes, the background colour of the state.
void setControlEnabled(QWidget* control, bool enabled) {
    SetControlEnabled(control, enabled, qobject_cast<QLineEdit*>(control) != nullptr);
}

void setText(QLineEdit* box, const QString& text) {
    if (box->text() != text)
        box->setText(text);
}

}  // namespace

QString FlatFilePanel::BrowseForFolder(QWidget* owner, const QString& title, const QString& start) {
    QString folder = start;
    while (folder.size() > 1 &&
           (folder.endsWith(QLatin1Char('/')) || folder.endsWith(QLatin1Char('\\'))))
        folder.chop(1);
    return QFileDialog::getExistingDirectory(owner, title, folder);
}

FlatFilePanel::FlatFilePanel(QWidget* parent) : QFrame(parent), chooseFolder_(&BrowseForFolder) {
    setObjectName(QStringLiteral("ctDLlFlatFileOBJ"));
    setFrameShape(QFrame::StyledPanel);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);

    txtSourceDataDir = named(new QLineEdit(this), "txtSourceDataDir");
    cmdSourceDataDir = named(new QPushButton(QStringLiteral("..."), this), "cmdSourceDataDir");
    Label4 =
        label(this, "Label4", QStringLiteral("Please specify the directory for this data source."));
    lblSourceDataDir =
        label(this, "lblSourceDataDir", QStringLiteral("Source &directory:"), txtSourceDataDir);
    Label18 = label(this, "Label18",
                    QStringLiteral("First remote data can be copied to the source directory."));
    cbSourceCopyRemData = named(new QCheckBox(QStringLiteral("First copy &remote data"), this),
                                "cbSourceCopyRemData");
    optSourceFromFTP = named(new QRadioButton(QStringLiteral("&FTP"), this), "optSourceFromFTP");
    optSourceFromShare =
        named(new QRadioButton(QStringLiteral("&Share"), this), "optSourceFromShare");
    txtSourceRemDataDir = named(new QLineEdit(this), "txtSourceRemDataDir");
    cmdSourceRemDataDir =
        named(new QPushButton(QStringLiteral("..."), this), "cmdSourceRemDataDir");
    lblSourceRemDataDir = label(this, "lblSourceRemDataDir", QStringLiteral("&Remote directory:"),
                                txtSourceRemDataDir);
    txtSourceFTPServer = named(new QLineEdit(this), "txtSourceFTPServer");
    lblSourceFTPServer =
        label(this, "lblSourceFTPServer", QStringLiteral("&Server:"), txtSourceFTPServer);
    txtSourceFTPUsername = named(new QLineEdit(this), "txtSourceFTPUsername");
    lblSourceFTPUsername =
        label(this, "lblSourceFTPUsername", QStringLiteral("&User name:"), txtSourceFTPUsername);
    txtSourceFTPPassword = named(new QLineEdit(this), "txtSourceFTPPassword");
    MakePasswordBox(txtSourceFTPPassword);
    lblSourceFTPPassword =
        label(this, "lblSourceFTPPassword", QStringLiteral("&Password:"), txtSourceFTPPassword);
    cmdTestFTP = named(new QPushButton(QStringLiteral("T&est connection"), this), "cmdTestFTP");
    txtSourceRemPollInterval = named(new QLineEdit(this), "txtSourceRemPollInterval");
    lblSourceRemPollInterval = label(this, "lblSourceRemPollInterval",
                                     QStringLiteral("Poll inter&val:"), txtSourceRemPollInterval);
    lblPollIntMinutes = label(this, "lblPollIntMinutes", QStringLiteral("minute(s)"));
    txtSourceRemPollDuration = named(new QLineEdit(this), "txtSourceRemPollDuration");
    lblSourceRemPollDuration = label(this, "lblSourceRemPollDuration",
                                     QStringLiteral("Po&ll duration:"), txtSourceRemPollDuration);
    lblPollDurMinutes = label(this, "lblPollDurMinutes", QStringLiteral("minute(s)"));

    const QPixmap colour = PaintMainWindowPicture(MainWindowPicture::DataSources, 32);
    imgColorSourceRemDataDir = named(new QLabel(this), "imgColorSourceRemDataDir");
    imgColorSourceRemDataDir->setPixmap(colour);
    imgGraySourceRemDataDir = named(new QLabel(this), "imgGraySourceRemDataDir");
    const QImage original = colour.toImage();
    QImage grey =
        original.convertToFormat(QImage::Format_Grayscale8).convertToFormat(QImage::Format_ARGB32);
    grey.setAlphaChannel(original.convertToFormat(QImage::Format_Alpha8));
    imgGraySourceRemDataDir->setPixmap(QPixmap::fromImage(grey));
    for (QLabel* img : {imgColorSourceRemDataDir, imgGraySourceRemDataDir})
        img->setAlignment(Qt::AlignTop);

    for (QPushButton* b : {cmdSourceDataDir, cmdSourceRemDataDir})
        b->setFixedWidth(28);
    for (QLineEdit* b : {txtSourceRemPollInterval, txtSourceRemPollDuration})
        b->setMaximumWidth(70);

    // Layout: the local directory on top, the remote section with its icon below.
    auto* v = new QVBoxLayout(this);
    v->addWidget(Label4);
    auto* local = new QHBoxLayout;
    local->addWidget(lblSourceDataDir);
    local->addWidget(txtSourceDataDir, 1);
    local->addWidget(cmdSourceDataDir);
    v->addLayout(local);
    v->addWidget(Label18);

    auto* remote = new QHBoxLayout;
    auto* icons = new QVBoxLayout;
    icons->addWidget(imgColorSourceRemDataDir);
    icons->addWidget(imgGraySourceRemDataDir);
    icons->addStretch();
    remote->addLayout(icons);
    auto* g = new QGridLayout;
    int row = 0;
    auto* kinds = new QHBoxLayout;
    kinds->addWidget(cbSourceCopyRemData);
    kinds->addWidget(optSourceFromFTP);
    kinds->addWidget(optSourceFromShare);
    kinds->addStretch();
    g->addLayout(kinds, row++, 0, 1, 4);
    g->addWidget(lblSourceRemDataDir, row, 0);
    g->addWidget(txtSourceRemDataDir, row, 1, 1, 2);
    g->addWidget(cmdSourceRemDataDir, row++, 3);
    g->addWidget(lblSourceFTPServer, row, 0);
    g->addWidget(txtSourceFTPServer, row++, 1, 1, 2);
    g->addWidget(lblSourceFTPUsername, row, 0);
    g->addWidget(txtSourceFTPUsername, row++, 1, 1, 2);
    g->addWidget(lblSourceFTPPassword, row, 0);
    g->addWidget(txtSourceFTPPassword, row, 1, 1, 2);
    g->addWidget(cmdTestFTP, row++, 3);
    g->addWidget(lblSourceRemPollInterval, row, 0);
    g->addWidget(txtSourceRemPollInterval, row, 1);
    g->addWidget(lblPollIntMinutes, row++, 2);
    g->addWidget(lblSourceRemPollDuration, row, 0);
    g->addWidget(txtSourceRemPollDuration, row, 1);
    g->addWidget(lblPollDurMinutes, row++, 2);
    g->setColumnStretch(2, 1);
    remote->addLayout(g, 1);
    v->addLayout(remote);
    v->addStretch();

    // Start state: no data source, nothing fetched, Share selected.
    optSourceFromShare->setChecked(true);
    ApplyState();

    connect(cbSourceCopyRemData, &QCheckBox::toggled, this, [this] { CheckBoxClicked(); });
    connect(optSourceFromFTP, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            FtpClicked();
    });
    connect(optSourceFromShare, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            ShareClicked();
    });
    auto bindText = [this](QLineEdit* box, QString DataLink::*field) {
        connect(box, &QLineEdit::textChanged, this, [this, field](const QString& text) {
            if (!isLoading_ && source_ != nullptr)
                source_->*field = text;
        });
    };
    bindText(txtSourceDataDir, &DataLink::strDSDirectory);
    bindText(txtSourceRemDataDir, &DataLink::strRemoteDir);
    bindText(txtSourceFTPServer, &DataLink::strFTPServer);
    bindText(txtSourceFTPUsername, &DataLink::strFTPUser);
    bindText(txtSourceFTPPassword, &DataLink::strFTPPassword);
    connect(txtSourceRemPollInterval, &QLineEdit::textChanged, this,
            [this] { PollChanged(txtSourceRemPollInterval, &DataLink::intPollInterval); });
    connect(txtSourceRemPollDuration, &QLineEdit::textChanged, this,
            [this] { PollChanged(txtSourceRemPollDuration, &DataLink::intPollDuration); });
    connect(cmdSourceDataDir, &QPushButton::clicked, this, [this] { BrowseSource(); });
    connect(cmdSourceRemDataDir, &QPushButton::clicked, this, [this] { BrowseRemote(); });
    connect(cmdTestFTP, &QPushButton::clicked, this, [this] { TestConnection(); });
    for (QWidget* w :
         {static_cast<QWidget*>(txtSourceDataDir), static_cast<QWidget*>(txtSourceRemPollInterval),
          static_cast<QWidget*>(txtSourceRemPollDuration)})
        w->installEventFilter(this);
}

QList<QWidget*> FlatFilePanel::KeyboardOrder() const {
    return {txtSourceDataDir,        cmdSourceDataDir,   cbSourceCopyRemData,
            optSourceFromFTP,        optSourceFromShare, txtSourceRemDataDir,
            cmdSourceRemDataDir,     txtSourceFTPServer, txtSourceFTPUsername,
            txtSourceFTPPassword,    cmdTestFTP,         txtSourceRemPollInterval,
            txtSourceRemPollDuration};
}

void FlatFilePanel::setObjDataSource(DataLink* source) {
    source_ = source;
    if (source_ == nullptr)
        return;
    ClearDatabaseFields(*source_);
    LoadFields();
}

void FlatFilePanel::LoadFields() {
    if (source_ == nullptr)
        return;
    isLoading_ = true;
    const DataLink& s = *source_;
    setText(txtSourceDataDir, s.strDSDirectory);
    if (s.intTransferData != 0) {
        const short type = s.intTransferData;
        cbSourceCopyRemData->setChecked(true);
        setText(txtSourceRemDataDir, s.strRemoteDir);
        if (type == DataLink::TransferFtp) {
            // The option's handler runs only when the selection changes.
            optSourceFromFTP->setChecked(true);
            setText(txtSourceFTPServer, s.strFTPServer);
            setText(txtSourceFTPUsername, s.strFTPUser);
            setText(txtSourceFTPPassword, s.strFTPPassword);
        } else if (type == DataLink::TransferShare) {
            txtSourceFTPServer->clear();
            txtSourceFTPUsername->clear();
            txtSourceFTPPassword->clear();
            optSourceFromShare->setChecked(true);
        }
        setText(txtSourceRemPollInterval, QString::number(s.intPollInterval));
        setText(txtSourceRemPollDuration, QString::number(s.intPollDuration));
    } else {
        for (QLineEdit* box :
             {txtSourceRemDataDir, txtSourceFTPServer, txtSourceFTPUsername, txtSourceFTPPassword,
              txtSourceRemPollInterval, txtSourceRemPollDuration})
            box->clear();
        cbSourceCopyRemData->setChecked(false);
    }
    isLoading_ = false;
}

void FlatFilePanel::CheckBoxClicked() {
    const bool checked = cbSourceCopyRemData->isChecked();
    if (!isLoading_ && source_ != nullptr)
        source_->intTransferData = TransferTypeOfCheckBox(checked, optSourceFromShare->isChecked());
    state_.FtpSelected = optSourceFromFTP->isChecked();
    state_.CheckBoxClicked(checked);
    ApplyState();
}

void FlatFilePanel::FtpClicked() {
    if (!cbSourceCopyRemData->isChecked())
        return;
    if (source_ != nullptr)
        source_->intTransferData = DataLink::TransferFtp;
    state_.FtpClicked();
    ApplyState();
}

void FlatFilePanel::ShareClicked() {
    if (source_ != nullptr)
        source_->intTransferData = DataLink::TransferShare;
    state_.ShareClicked();
    ApplyState();
}

void FlatFilePanel::ApplyState() {
    imgColorSourceRemDataDir->setVisible(state_.ColouredIcon);
    imgGraySourceRemDataDir->setVisible(!state_.ColouredIcon);
    for (QWidget* w : std::initializer_list<QWidget*>{
             lblSourceRemDataDir, txtSourceRemDataDir, lblSourceRemPollInterval,
             lblSourceRemPollDuration, lblPollIntMinutes, lblPollDurMinutes,
             txtSourceRemPollInterval, txtSourceRemPollDuration, optSourceFromFTP,
             optSourceFromShare})
        setControlEnabled(w, state_.RemoteSection);
    setControlEnabled(cmdSourceRemDataDir, state_.RemoteDirButton);
    for (QWidget* w : std::initializer_list<QWidget*>{
             lblSourceFTPServer, lblSourceFTPUsername, lblSourceFTPPassword, txtSourceFTPServer,
             txtSourceFTPUsername, txtSourceFTPPassword, cmdTestFTP})
        setControlEnabled(w, state_.FtpControls);
    setControlEnabled(txtSourceDataDir, true);
}

void FlatFilePanel::PollChanged(QLineEdit* box, short DataLink::*field) {
    const short value = PollBoxValue(box->text());
    if (!isLoading_ && source_ != nullptr)
        source_->*field = value;
    // The box shows the stored number, also while loading (an emptied box shows it too).
    const short shown = source_ != nullptr ? source_->*field : value;
    setText(box, QString::number(shown));
}

void FlatFilePanel::BrowseSource() {
    QString folder = chooseFolder_(window(), QStringLiteral("Select local Directory."),
                                   txtSourceDataDir->text());
    if (!folder.isEmpty())
        txtSourceDataDir->setText(SourceDirectoryOnLeave(folder));
}

void FlatFilePanel::BrowseRemote() {
    QString folder = chooseFolder_(window(), QStringLiteral("Select Remote Directory."),
                                   txtSourceRemDataDir->text());
    if (!folder.isEmpty())
        txtSourceRemDataDir->setText(SourceDirectoryOnLeave(folder));
}

void FlatFilePanel::TestConnection() {
    TestFtpConnection(txtSourceFTPServer->text(), txtSourceRemDataDir->text(),
                      txtSourceFTPUsername->text(), txtSourceFTPPassword->text());
}

bool FlatFilePanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtSourceDataDir) {
        if (event->type() == QEvent::FocusOut)
            txtSourceDataDir->setText(SourceDirectoryOnLeave(txtSourceDataDir->text()));
        else if (event->type() == QEvent::MouseButtonDblClick) {
            BrowseSource();
            return true;
        }
    } else if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Backspace)
            return false;
        // Navigation and editing keys carry no text and pass; typed characters must be digits.
        const QString text = key->text();
        if (!text.isEmpty() && text.at(0).isPrint() && !PollBoxAcceptsKey(text.at(0)))
            return true;
    }
    return QFrame::eventFilter(watched, event);
}
