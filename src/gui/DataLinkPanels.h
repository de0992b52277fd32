#pragma once

#include <QDialog>
#include <QFrame>
#include <QList>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>

#include "app/MainFormModel.h"

class RunLog;

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableWidget;
class DataLink;

// The editor panels of the data-source page. Each shows the fields of one data source and writes
// every edit straight back into it; nothing is saved here.
class DataLinkPanel : public QFrame {
  public:
    // The data source the panel edits (nullptr until one is set). Setting it clears the fields
    // that do not belong to the panel and fills the controls.
    void SetDataSource(DataLink* source);
    DataLink* DataSource() const { return source_; }
    // Copies the bound fields into the controls.
    virtual void FillFields() = 0;
    // The panel's controls in keyboard order.
    virtual QList<QWidget*> KeyboardOrder() const = 0;
    // Where the panel's boxes and their texts go: the window's run log (not owned). Without one,
    // a run log without file whose texts go to the operator.
    void SetRunLog(const RunLog* log) { runLog_ = log; }

    // Enables or disables a control; with `colour` its background becomes the palette's colour
    // of an enabled or a disabled input box (InputBoxBackground).
    static void EnableControl(QWidget* control, bool colour);
    static void DisableControl(QWidget* control, bool colour);

    // The open-file dialog the browse buttons use: (owner, title, directory, filter in the
    // "text|pattern|..." form) → chosen path or empty. Replaceable for tests.
    using FileChooser =
        std::function<QString(QWidget*, const QString&, const QString&, const QString&)>;
    static FileChooser chooseFile;

  protected:
    DataLinkPanel(MainFormModel::DataLinkPanel kind, const QString& name, QWidget* parent);
    QLabel* AddDescription(const QString& name, const QString& text);
    // A text box with its label in the panel's grid, writing into `field` on every change.
    QLineEdit* AddTextBox(const QString& name, const QString& labelName, const QString& caption,
                          QString DataLink::*field, bool password = false);
    // A "..." button beside the last text box.
    QPushButton* AddBrowseButton(const QString& name, QLineEdit* box);
    // Lets the operator pick a file for `box` (initial directory: that of the file it names).
    void BrowseFile(QLineEdit* box, const QString& title, const QString& filter);
    // Sets a bound text box and so its field.
    static void SetBox(QLineEdit* box, const QString& text);
    const RunLog& PanelRunLog() const;

    class QGridLayout* grid_ = nullptr;
    int row_ = 0;
    DataLink* source_ = nullptr;

  private:
    MainFormModel::DataLinkPanel kind_;
    const RunLog* runLog_ = nullptr;
};

class SqlServerPanel : public DataLinkPanel {
  public:
    explicit SqlServerPanel(QWidget* parent = nullptr);
    void FillFields() override;
    QList<QWidget*> KeyboardOrder() const override;
    // Server browse: the known servers with free entry; a non-empty name replaces the server.
    void BrowseServer();
    // Reads the server's databases into the list (on opening it).
    void FillDatabaseList();

    // The server dialog (title, owner) → name or empty. Replaceable for tests.
    static std::function<QString(const QString&, QWidget*)> browseForComputer;

    QLineEdit* sqlServerBox;
    QPushButton* browseSqlServerButton;
    QRadioButton* sqlTrustedLoginOption;
    QRadioButton* sqlUserLoginOption;
    QLabel* sqlUserLabel;
    QLineEdit* sqlUserBox;
    QLabel* sqlPasswordLabel;
    QLineEdit* sqlPasswordBox;
    QComboBox* sqlDatabaseBox;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void LoginChosen(bool trusted);
};

class AccessFilesPanel : public DataLinkPanel {
  public:
    explicit AccessFilesPanel(QWidget* parent = nullptr);
    void FillFields() override;
    QList<QWidget*> KeyboardOrder() const override;
    QLineEdit* accessFileBox;
    QPushButton* browseAccessFileButton;
    QLineEdit* accessUserBox;
    QLineEdit* accessPasswordBox;
};

class ExcelFilesPanel : public DataLinkPanel {
  public:
    explicit ExcelFilesPanel(QWidget* parent = nullptr);
    void FillFields() override;
    QList<QWidget*> KeyboardOrder() const override;
    QLineEdit* excelFileBox;
    QPushButton* browseExcelFileButton;
    QLineEdit* excelUserBox;
    QLineEdit* excelPasswordBox;
};

class OraclePanel : public DataLinkPanel {
  public:
    explicit OraclePanel(QWidget* parent = nullptr);
    void FillFields() override;
    QList<QWidget*> KeyboardOrder() const override;
    QLineEdit* oracleServerBox;
    QLineEdit* oracleUserBox;
    QLineEdit* oraclePasswordBox;
    QComboBox* oracleDatabaseBox;
};

class UdlPanel : public DataLinkPanel {
  public:
    explicit UdlPanel(QWidget* parent = nullptr);
    void FillFields() override {}
    QList<QWidget*> KeyboardOrder() const override;
    // Takes the connection text of a data-link file, or warns and clears it.
    void LoadUDLFile(const QString& path);
    // Edits the connection text in the provider dialog; versionless providers get their version.
    void EditProperties();

    // The connection-text editor (text, owner) → the confirmed text, or nothing on cancel.
    static std::function<std::optional<QString>(const QString&, QWidget*)> editConnectText;

    QPushButton* loadUdlFileButton;
    QPushButton* udlPropertiesButton;
};

class XmlFilesPanel : public DataLinkPanel {
  public:
    explicit XmlFilesPanel(QWidget* parent = nullptr);
    void FillFields() override;
    QList<QWidget*> KeyboardOrder() const override;
    QLineEdit* xmlFileBox;
    QPushButton* browseXmlFileButton;
    QLineEdit* xmlSchemaFileBox;
    QPushButton* browseXmlSchemaFileButton;
};

// Picks a server: the known servers (settings-store aliases and "(local)") with free entry.
// The editor panel of the window's panel place named `name` ("sqlServerPanel" and so on), or
// nullptr for a place this file has no panel for.
DataLinkPanel* CreateDataLinkPanel(const QString& name, QWidget* parent);

class ServerBrowseDialog : public QDialog {
  public:
    ServerBrowseDialog(const QString& title, QWidget* owner);
    QString ServerName() const;
    QComboBox* serverBox;
};

// The editor of provider connection texts: the provider from a list, the other parts as
// name/value rows, and the whole text.
class ConnectTextDialog : public QDialog {
  public:
    ConnectTextDialog(const QString& connectText, QWidget* owner);
    QString ConnectText() const;
    QComboBox* providerBox;
    QTableWidget* tblProperties;
    QLineEdit* connectTextBox;

  private:
    void ShowText();
    bool updating_ = false;
};
