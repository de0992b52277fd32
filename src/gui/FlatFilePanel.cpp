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

#include "app/MainFormView.h"
#include "datasources/DataLink.h"
#include "gui/InputBoxes.h"
#include "gui/MainWindowPictures.h"
#include "util/RunLog.h"

namespace {

template <typename W>
W* named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text,
                  QWidget* buddy = nullptr) {
    auto* l = named(new QLabel(text, parent), name);
    if (buddy != nullptr)
        l->setBuddy(buddy);
    return l;
}

// Sets the enabled state and, for input boxes, the background colour of the state.
void setControlEnabled(QWidget* control, bool enabled) {
    ShowControlEnabled(control, enabled, qobject_cast<QLineEdit*>(control) != nullptr);
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

FlatFilePanel::FlatFilePanel(QWidget* parent, MainFormView* view)
    : QFrame(parent), chooseFolder_(&BrowseForFolder), view_(view) {
    setObjectName(QStringLiteral("flatFilePanel"));
    setFrameShape(QFrame::StyledPanel);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);

    directoryBox = named(new QLineEdit(this), "directoryBox");
    directoryButton = named(new QPushButton(QStringLiteral("..."), this), "directoryButton");
    directoryIntro =
        MakeLabel(this, "directoryIntro",
                  QStringLiteral("Please specify the directory for this data source."));
    directoryLabel =
        MakeLabel(this, "directoryLabel", QStringLiteral("Source &directory:"), directoryBox);
    remoteIntro =
        MakeLabel(this, "remoteIntro",
                  QStringLiteral("First remote data can be copied to the source directory."));
    copyRemoteDataBox =
        named(new QCheckBox(QStringLiteral("First copy &remote data"), this), "copyRemoteDataBox");
    fromFtpOption = named(new QRadioButton(QStringLiteral("&FTP"), this), "fromFtpOption");
    fromShareOption = named(new QRadioButton(QStringLiteral("&Share"), this), "fromShareOption");
    remoteDirectoryBox = named(new QLineEdit(this), "remoteDirectoryBox");
    remoteDirectoryButton =
        named(new QPushButton(QStringLiteral("..."), this), "remoteDirectoryButton");
    remoteDirectoryLabel = MakeLabel(this, "remoteDirectoryLabel",
                                     QStringLiteral("&Remote directory:"), remoteDirectoryBox);
    ftpServerBox = named(new QLineEdit(this), "ftpServerBox");
    ftpServerLabel = MakeLabel(this, "ftpServerLabel", QStringLiteral("&Server:"), ftpServerBox);
    ftpUserBox = named(new QLineEdit(this), "ftpUserBox");
    ftpUserLabel = MakeLabel(this, "ftpUserLabel", QStringLiteral("&User name:"), ftpUserBox);
    ftpPasswordBox = named(new QLineEdit(this), "ftpPasswordBox");
    MakePasswordBox(ftpPasswordBox);
    ftpPasswordLabel =
        MakeLabel(this, "ftpPasswordLabel", QStringLiteral("&Password:"), ftpPasswordBox);
    testFtpButton =
        named(new QPushButton(QStringLiteral("T&est connection"), this), "testFtpButton");
    pollIntervalBox = named(new QLineEdit(this), "pollIntervalBox");
    pollIntervalLabel =
        MakeLabel(this, "pollIntervalLabel", QStringLiteral("Poll inter&val:"), pollIntervalBox);
    pollIntervalUnitLabel = MakeLabel(this, "pollIntervalUnitLabel", QStringLiteral("minute(s)"));
    pollDurationBox = named(new QLineEdit(this), "pollDurationBox");
    pollDurationLabel =
        MakeLabel(this, "pollDurationLabel", QStringLiteral("Po&ll duration:"), pollDurationBox);
    pollDurationUnitLabel = MakeLabel(this, "pollDurationUnitLabel", QStringLiteral("minute(s)"));

    const QPixmap colour = PaintMainWindowPicture(MainWindowPicture::DataSources, 32);
    remoteColourPicture = named(new QLabel(this), "remoteColourPicture");
    remoteColourPicture->setPixmap(colour);
    remoteGreyPicture = named(new QLabel(this), "remoteGreyPicture");
    const QImage original = colour.toImage();
    QImage grey =
        original.convertToFormat(QImage::Format_Grayscale8).convertToFormat(QImage::Format_ARGB32);
    grey.setAlphaChannel(original.convertToFormat(QImage::Format_Alpha8));
    remoteGreyPicture->setPixmap(QPixmap::fromImage(grey));
    for (QLabel* img : {remoteColourPicture, remoteGreyPicture})
        img->setAlignment(Qt::AlignTop);

    for (QPushButton* b : {directoryButton, remoteDirectoryButton})
        b->setFixedWidth(28);
    for (QLineEdit* b : {pollIntervalBox, pollDurationBox})
        b->setMaximumWidth(70);

    // Layout: the local directory on top, the remote section with its icon below.
    auto* v = new QVBoxLayout(this);
    v->addWidget(directoryIntro);
    auto* local = new QHBoxLayout;
    local->addWidget(directoryLabel);
    local->addWidget(directoryBox, 1);
    local->addWidget(directoryButton);
    v->addLayout(local);
    v->addWidget(remoteIntro);

    auto* remote = new QHBoxLayout;
    auto* icons = new QVBoxLayout;
    icons->addWidget(remoteColourPicture);
    icons->addWidget(remoteGreyPicture);
    icons->addStretch();
    remote->addLayout(icons);
    auto* g = new QGridLayout;
    int row = 0;
    auto* kinds = new QHBoxLayout;
    kinds->addWidget(copyRemoteDataBox);
    kinds->addWidget(fromFtpOption);
    kinds->addWidget(fromShareOption);
    kinds->addStretch();
    g->addLayout(kinds, row++, 0, 1, 4);
    g->addWidget(remoteDirectoryLabel, row, 0);
    g->addWidget(remoteDirectoryBox, row, 1, 1, 2);
    g->addWidget(remoteDirectoryButton, row++, 3);
    g->addWidget(ftpServerLabel, row, 0);
    g->addWidget(ftpServerBox, row++, 1, 1, 2);
    g->addWidget(ftpUserLabel, row, 0);
    g->addWidget(ftpUserBox, row++, 1, 1, 2);
    g->addWidget(ftpPasswordLabel, row, 0);
    g->addWidget(ftpPasswordBox, row, 1, 1, 2);
    g->addWidget(testFtpButton, row++, 3);
    g->addWidget(pollIntervalLabel, row, 0);
    g->addWidget(pollIntervalBox, row, 1);
    g->addWidget(pollIntervalUnitLabel, row++, 2);
    g->addWidget(pollDurationLabel, row, 0);
    g->addWidget(pollDurationBox, row, 1);
    g->addWidget(pollDurationUnitLabel, row++, 2);
    g->setColumnStretch(2, 1);
    remote->addLayout(g, 1);
    v->addLayout(remote);
    v->addStretch();

    // Start state: no data source, nothing fetched, Share selected.
    fromShareOption->setChecked(true);
    ApplyState();

    connect(copyRemoteDataBox, &QCheckBox::toggled, this, [this] { CheckBoxClicked(); });
    connect(fromFtpOption, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            FtpClicked();
    });
    connect(fromShareOption, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            ShareClicked();
    });
    auto bindText = [this](QLineEdit* box, QString DataLink::*field) {
        connect(box, &QLineEdit::textChanged, this, [this, field](const QString& text) {
            if (!isLoading_ && source_ != nullptr)
                source_->*field = text;
        });
    };
    bindText(directoryBox, &DataLink::directory);
    bindText(remoteDirectoryBox, &DataLink::remoteDirectory);
    bindText(ftpServerBox, &DataLink::ftpServer);
    bindText(ftpUserBox, &DataLink::ftpUser);
    bindText(ftpPasswordBox, &DataLink::ftpPassword);
    connect(pollIntervalBox, &QLineEdit::textChanged, this,
            [this] { PollChanged(pollIntervalBox, &DataLink::pollInterval); });
    connect(pollDurationBox, &QLineEdit::textChanged, this,
            [this] { PollChanged(pollDurationBox, &DataLink::pollDuration); });
    connect(directoryButton, &QPushButton::clicked, this, [this] { BrowseSource(); });
    connect(remoteDirectoryButton, &QPushButton::clicked, this, [this] { BrowseRemote(); });
    connect(testFtpButton, &QPushButton::clicked, this, [this] { TestConnection(); });
    for (QWidget* w : {static_cast<QWidget*>(directoryBox), static_cast<QWidget*>(pollIntervalBox),
                       static_cast<QWidget*>(pollDurationBox)})
        w->installEventFilter(this);
}

QList<QWidget*> FlatFilePanel::KeyboardOrder() const {
    return {directoryBox,    directoryButton,    copyRemoteDataBox,     fromFtpOption,
            fromShareOption, remoteDirectoryBox, remoteDirectoryButton, ftpServerBox,
            ftpUserBox,      ftpPasswordBox,     testFtpButton,         pollIntervalBox,
            pollDurationBox};
}

void FlatFilePanel::SetDataSource(DataLink* source) {
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
    setText(directoryBox, s.directory);
    if (s.transferData != 0) {
        const short type = s.transferData;
        copyRemoteDataBox->setChecked(true);
        setText(remoteDirectoryBox, s.remoteDirectory);
        if (type == DataLink::TransferFtp) {
            // The option's handler runs only when the selection changes.
            fromFtpOption->setChecked(true);
            setText(ftpServerBox, s.ftpServer);
            setText(ftpUserBox, s.ftpUser);
            setText(ftpPasswordBox, s.ftpPassword);
        } else if (type == DataLink::TransferShare) {
            ftpServerBox->clear();
            ftpUserBox->clear();
            ftpPasswordBox->clear();
            fromShareOption->setChecked(true);
        }
        setText(pollIntervalBox, QString::number(s.pollInterval));
        setText(pollDurationBox, QString::number(s.pollDuration));
    } else {
        for (QLineEdit* box : {remoteDirectoryBox, ftpServerBox, ftpUserBox, ftpPasswordBox,
                               pollIntervalBox, pollDurationBox})
            box->clear();
        copyRemoteDataBox->setChecked(false);
    }
    isLoading_ = false;
}

void FlatFilePanel::CheckBoxClicked() {
    const bool checked = copyRemoteDataBox->isChecked();
    if (!isLoading_ && source_ != nullptr)
        source_->transferData = TransferTypeOfCheckBox(checked, fromShareOption->isChecked());
    state_.FtpSelected = fromFtpOption->isChecked();
    state_.CheckBoxClicked(checked);
    ApplyState();
}

void FlatFilePanel::FtpClicked() {
    if (!copyRemoteDataBox->isChecked())
        return;
    if (source_ != nullptr)
        source_->transferData = DataLink::TransferFtp;
    state_.FtpClicked();
    ApplyState();
}

void FlatFilePanel::ShareClicked() {
    if (source_ != nullptr)
        source_->transferData = DataLink::TransferShare;
    state_.ShareClicked();
    ApplyState();
}

void FlatFilePanel::ApplyState() {
    remoteColourPicture->setVisible(state_.ColouredIcon);
    remoteGreyPicture->setVisible(!state_.ColouredIcon);
    for (QWidget* w : std::initializer_list<QWidget*>{
             remoteDirectoryLabel, remoteDirectoryBox, pollIntervalLabel, pollDurationLabel,
             pollIntervalUnitLabel, pollDurationUnitLabel, pollIntervalBox, pollDurationBox,
             fromFtpOption, fromShareOption})
        setControlEnabled(w, state_.RemoteSection);
    setControlEnabled(remoteDirectoryButton, state_.RemoteDirButton);
    for (QWidget* w :
         std::initializer_list<QWidget*>{ftpServerLabel, ftpUserLabel, ftpPasswordLabel,
                                         ftpServerBox, ftpUserBox, ftpPasswordBox, testFtpButton})
        setControlEnabled(w, state_.FtpControls);
    setControlEnabled(directoryBox, true);
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
    QString folder =
        chooseFolder_(window(), QStringLiteral("Select local Directory."), directoryBox->text());
    if (!folder.isEmpty())
        directoryBox->setText(SourceDirectoryOnLeave(folder));
}

void FlatFilePanel::BrowseRemote() {
    QString folder = chooseFolder_(window(), QStringLiteral("Select Remote Directory."),
                                   remoteDirectoryBox->text());
    if (!folder.isEmpty())
        remoteDirectoryBox->setText(SourceDirectoryOnLeave(folder));
}

void FlatFilePanel::TestConnection() {
    MainFormView none;
    static const RunLog operatorOnly;
    TestFtpConnection(view_ != nullptr ? *view_ : none, ftpServerBox->text(),
                      remoteDirectoryBox->text(), ftpUserBox->text(), ftpPasswordBox->text(),
                      runLog_ != nullptr ? *runLog_ : operatorOnly);
}

bool FlatFilePanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == directoryBox) {
        if (event->type() == QEvent::FocusOut)
            directoryBox->setText(SourceDirectoryOnLeave(directoryBox->text()));
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
