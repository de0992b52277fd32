#pragma once

#include <QPixmap>

// The fixed illustrations of the main window, painted by the program itself.
enum class MainWindowPicture {
    PackageInfo,  // imgDTSPackageInfo: a package beside a server
    DTSServer,    // imgColorDTSServer: a server
    Package,      // imgDTSPackage: a package
    ErrorFile,    // imgErrorFile: a text file
    DWServerDB,   // imgDWServerDB: a server with a database
    DWDB,         // imgDWDB: a database
    EventLog,     // imgEventLog: a log book
    DataSources,  // Image9: several sources flowing into one
};

// The picture at `size` x `size` device-independent pixels.
QPixmap PaintMainWindowPicture(MainWindowPicture picture, int size = 40);
