#pragma once

#include <QPixmap>

// The fixed illustrations of the main window, painted by the program itself.
enum class MainWindowPicture {
    PackageInfo,  // packageInfoPicture: a package beside a server
    DTSServer,    // packageServerPicture: a server
    Package,      // packagePicture: a package
    ErrorFile,    // errorFilePicture: a text file
    DWServerDB,   // warehouseServerPicture: a server with a database
    DWDB,         // warehouseDatabasePicture: a database
    EventLog,     // eventLogPicture: a log book
    DataSources,  // Image9: several sources flowing into one
};

// The picture at `size` x `size` device-independent pixels.
QPixmap PaintMainWindowPicture(MainWindowPicture picture, int size = 40);
