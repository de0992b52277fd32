// pendrill-screenshots: takes the README's pictures of the program's windows, and writes the
// desktop icon at its installed sizes. scripts/screenshots.sh prepares a demo configuration and
// runs it under Xvfb; see README.md ("Pictures").
//
//   pendrill-screenshots --out DIR --config FILE   the main window's three pages, the data-link
//                                                  list with a data link chosen, the progress
//                                                  window
//   pendrill-screenshots --icons DIR               DIR/hicolor/<N>x<N>/apps/pendrill.png
#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>

#include "app/MainFormModel.h"
#include "datasources/DataLink.h"
#include "datasources/WarehouseSession.h"
#include "gui/AnimationClip.h"
#include "gui/AppIcon.h"
#include "gui/CopyProgressWindow.h"
#include "gui/FlatFilePanel.h"
#include "gui/GuiOperator.h"
#include "gui/MainWindow.h"
#include "util/OperatorInterface.h"

namespace {

int failures = 0;

void say(const QString& text) {
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

// Lets the windows paint (and timers run) for `ms` milliseconds.
void settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool save(QWidget* widget, const QDir& out, const QString& name) {
    settle(150);
    const QString path = out.filePath(name);
    if (!widget->grab().save(path, "PNG")) {
        say(QStringLiteral("cannot write %1").arg(path));
        ++failures;
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// A message box would wait for a person nobody is; say what it said and close it.
void closeMessageBoxes() {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            say(QStringLiteral("message box \"%1\": %2").arg(box->windowTitle(), box->text()));
            ++failures;
            box->done(QMessageBox::Ok);
        }
    });
    timer->start(100);
}

int writeIcons(const QDir& dir) {
    for (int size : {48, 128, 256}) {
        const QString sub = QStringLiteral("hicolor/%1x%1/apps").arg(size);
        if (!dir.mkpath(sub) ||
            !PaintAppIcon(size).save(dir.filePath(sub + QStringLiteral("/pendrill.png")), "PNG")) {
            say(QStringLiteral("cannot write the icon under %1").arg(dir.filePath(sub)));
            return 1;
        }
    }
    return 0;
}

// Where the copied files go: the directory of the data source "Orders" (the demo's files),
// else the temporary directory.
QString copyTarget(const MainFormModel& form) {
    const DataLink* source = form.Warehouse.Find(QStringLiteral("Orders"));
    if (source != nullptr && !source->directory.isEmpty())
        return source->directory;
    return QDir::tempPath() + QStringLiteral("/");
}

int takePictures(const QString& config, const QDir& out) {
    GuiOperator op;
    SetOperator(&op);
    closeMessageBoxes();

    MainFormModel form;
    form.Log.interactive = true;
    form.StartInConfigMode = true;
    form.PendrillConfigFile = config;
    form.InitFormFields();

    int status = 0;
    {
        MainWindow window(form);
        op.AttachMainWindow(&window);
        window.show();
        settle(200);

        auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("pages"));
        auto* links = window.findChild<QListWidget*>(QStringLiteral("dataLinks"));
        if (tabs == nullptr || links == nullptr) {
            say(QStringLiteral("the main window has no pages or dataLinks"));
            status = 1;
        } else {
            // As the operator does it: page by page, then a data link of the list.
            tabs->setCurrentIndex(MainFormModel::PackagePage);
            save(&window, out, QStringLiteral("main-package.png"));
            tabs->setCurrentIndex(MainFormModel::WarehousePage);
            save(&window, out, QStringLiteral("main-warehouse.png"));
            tabs->setCurrentIndex(MainFormModel::DataSourcePage);
            save(&window, out, QStringLiteral("main-datasources.png"));
            if (links->count() == 0) {
                say(QStringLiteral("the data-link list is empty"));
                ++failures;
            } else {
                links->setCurrentRow(0);
                save(&window, out, QStringLiteral("main-datalink.png"));
            }
            // The flat-file panel, for the demo's directory of orders.
            const auto orders = links->findItems(QStringLiteral("Orders"), Qt::MatchExactly);
            if (orders.isEmpty()) {
                say(QStringLiteral("the data-link list has no Orders"));
                ++failures;
            } else {
                links->setCurrentItem(orders.first());
                // Fetched by FTP first, as typed by an operator (nothing is saved).
                auto* panel = window.findChild<FlatFilePanel*>(QStringLiteral("flatFilePanel"));
                if (panel != nullptr) {
                    panel->copyRemoteDataBox->click();
                    panel->fromFtpOption->click();
                    panel->remoteDirectoryBox->setText(QStringLiteral("/outgoing/orders/"));
                    panel->ftpServerBox->setText(QStringLiteral("ftp.example.com"));
                    panel->ftpUserBox->setText(QStringLiteral("etl"));
                    panel->ftpPasswordBox->setText(QStringLiteral("secret"));
                    panel->pollIntervalBox->setText(QStringLiteral("5"));
                    panel->pollDurationBox->setText(QStringLiteral("120"));
                }
                save(&window, out, QStringLiteral("panel-flatfile.png"));
            }
            // The SQL Server panel, for the demo's customer database.
            const auto customers = links->findItems(QStringLiteral("Customers"), Qt::MatchExactly);
            if (customers.isEmpty()) {
                say(QStringLiteral("the data-link list has no Customers"));
                ++failures;
            } else {
                links->setCurrentItem(customers.first());
                save(&window, out, QStringLiteral("panel-sqlserver.png"));
            }
        }

        // The progress window as the FTP copy shows it, over the main window.
        CopyProgressWindow progress(&window);
        progress.Create(1, QStringLiteral("Copying"),
                        QStringLiteral("Please wait..... Transfering remote data with FTP"), true,
                        true);
        progress.LabelCaption(
            QStringLiteral("Please wait..... Transfering remote data with FTP\r\norders.csv to ") +
            copyTarget(form));
        // Mid-flight: the sheet half-way between the folders.
        for (int waited = 0; progress.Animation() != nullptr && waited < 3000; waited += 10) {
            if (progress.Animation()->Frame() == 7)
                break;
            settle(10);
        }
        save(progress.Window(), out, QStringLiteral("progress.png"));
        progress.AnimateStop();
        progress.Destroy();
        op.AttachMainWindow(nullptr);
    }
    SetOperator(nullptr);
    return status != 0 ? status : (failures != 0 ? 1 : 0);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Pendrill"));
    QApplication::setWindowIcon(AppIcon());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Takes the pictures of Pendrill's windows."));
    parser.addHelpOption();
    const QCommandLineOption outOption(QStringLiteral("out"),
                                       QStringLiteral("Directory for the pictures."),
                                       QStringLiteral("DIR"));
    const QCommandLineOption configOption(
        QStringLiteral("config"), QStringLiteral("Run configuration the main window opens."),
        QStringLiteral("FILE"));
    const QCommandLineOption iconsOption(QStringLiteral("icons"),
                                         QStringLiteral("Write the icon's PNG files under DIR."),
                                         QStringLiteral("DIR"));
    parser.addOption(outOption);
    parser.addOption(configOption);
    parser.addOption(iconsOption);
    parser.process(app);

    if (parser.isSet(iconsOption))
        return writeIcons(QDir(parser.value(iconsOption)));
    if (!parser.isSet(outOption) || !parser.isSet(configOption)) {
        say(QStringLiteral(
            "pendrill-screenshots: give --out DIR and --config FILE, or --icons DIR"));
        return 2;
    }
    QDir out(parser.value(outOption));
    if (!out.mkpath(QStringLiteral("."))) {
        say(QStringLiteral("cannot create %1").arg(out.path()));
        return 1;
    }
    return takePictures(QFileInfo(parser.value(configOption)).absoluteFilePath(), out);
}
