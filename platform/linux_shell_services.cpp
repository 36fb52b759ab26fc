#include "platform/linux_shell_services.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QPrinterInfo>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTabWidget>
#include <QVBoxLayout>

#include "platform/dialog_backend.h"
#include "platform/icon_handles.h"

namespace {

constexpr int kLargeIconPixels = 32;
constexpr int kSmallIconPixels = 16;

QDialogButtonBox* AddButtons(QDialog* dialog, QDialogButtonBox::StandardButtons buttons) {
    auto* box = new QDialogButtonBox(buttons, dialog);
    box->setObjectName("buttonBox");
    if (auto* ok = box->button(QDialogButtonBox::Ok)) ok->setText(QStringLiteral("ОК"));
    if (auto* cancel = box->button(QDialogButtonBox::Cancel)) {
        cancel->setText(QStringLiteral("Отмена"));
    }
    if (auto* close = box->button(QDialogButtonBox::Close)) {
        close->setText(QStringLiteral("Закрыть"));
    }
    QObject::connect(box, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return box;
}

QIcon IconOrProgram(const IconHandleTable& icons, quint32 handle) {
    const QIcon icon = icons.Icon(handle);
    return icon.isNull() ? QApplication::windowIcon() : icon;
}

// Every image of an icon file, one icon per image (an ICO file can hold
// several; PNG and SVG hold one).
QList<QImage> IconImages(const QString& path) {
    QList<QImage> images;
    if (path.isEmpty() || !QFileInfo(path).isFile()) return images;
    const int count = qMax(1, QImageReader(path).imageCount());
    for (int i = 0; i < count; ++i) {
        QImageReader reader(path);
        if (i > 0 && !reader.jumpToImage(i)) break;
        const QImage image = reader.read();
        if (image.isNull()) break;
        images.append(image);
    }
    return images;
}

QString RestartQuestion(quint32 restartKind) {
    switch (restartKind & 3) {
        case kEwxLogOff:
            return QStringLiteral("Завершить сеанс сейчас?");
        case kEwxShutDown:
            return QStringLiteral("Выключить компьютер сейчас?");
        default:
            return QStringLiteral("Перезагрузить компьютер сейчас?");
    }
}

}  // namespace

ProgramLauncher SystemLauncher() {
    ProgramLauncher launcher;
    launcher.startDetached = [](const QString& program, const QStringList& arguments,
                                const QString& workingDirectory) {
        return QProcess::startDetached(program, arguments, workingDirectory);
    };
    launcher.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    launcher.findExecutable = [](const QString& name) {
        return QStandardPaths::findExecutable(name);
    };
    return launcher;
}

CommandLine PowerActionCommand(quint32 restartKind, const QString& sessionId) {
    const bool force = restartKind & kEwxForce;
    switch (restartKind & 3) {
        case kEwxLogOff:
            return {QStringLiteral("loginctl"),
                    {QStringLiteral("terminate-session"),
                     sessionId.isEmpty() ? QStringLiteral("self") : sessionId}};
        case kEwxShutDown: {
            QStringList arguments{QStringLiteral("poweroff")};
            if (force) arguments.prepend(QStringLiteral("--check-inhibitors=no"));
            return {QStringLiteral("systemctl"), arguments};
        }
        default: {  // reboot, also when asked together with shut down
            QStringList arguments{QStringLiteral("reboot")};
            if (force) arguments.prepend(QStringLiteral("--check-inhibitors=no"));
            return {QStringLiteral("systemctl"), arguments};
        }
    }
}

LinuxShellServices::LinuxShellServices(ProgramLauncher launcher, IconHandleTable* icons)
    : launcher_(std::move(launcher)), icons_(icons ? icons : &ProgramIcons()) {}

bool LinuxShellServices::RunPowerAction(quint32 restartKind) {
    const CommandLine command =
        PowerActionCommand(restartKind, qEnvironmentVariable("XDG_SESSION_ID"));
    return launcher_.startDetached(command.program, command.arguments, QString());
}

void LinuxShellServices::ShutDownDialog(QWidget* owner) {
    QDialog dialog(owner);
    dialog.setObjectName("shutDownDialog");
    dialog.setWindowTitle(QStringLiteral("Завершение работы"));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Что должен сделать компьютер?"), &dialog));
    auto* actions = new QComboBox(&dialog);
    actions->setObjectName("actionBox");
    actions->addItem(QStringLiteral("Завершение работы"), kEwxShutDown);
    actions->addItem(QStringLiteral("Перезагрузка"), kEwxReboot);
    actions->addItem(QStringLiteral("Выход из системы"), kEwxLogOff);
    layout->addWidget(actions);
    auto* box = AddButtons(&dialog, QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(box, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(box);
    if (dialog.exec() != QDialog::Accepted) return;
    RunPowerAction(actions->currentData().toUInt());
}

int LinuxShellServices::RestartDialog(QWidget* owner, const QString& prompt, quint32 restartKind) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Перезапуск системы"),
                    TextBeforeNul(prompt), QMessageBox::NoButton, owner);
    box.setObjectName("restartDialog");
    box.setInformativeText(RestartQuestion(restartKind));
    QPushButton* yes = box.addButton(QStringLiteral("Да"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("Нет"), QMessageBox::NoRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    if (box.clickedButton() != yes) return kIdNo;
    RunPowerAction(restartKind);
    return kIdYes;
}

bool LinuxShellServices::StartCommandLine(const QString& commandLine, const QString& directory,
                                          bool calcDirectory) {
    QStringList arguments = QProcess::splitCommand(commandLine);
    if (arguments.isEmpty()) return false;
    const QString program = arguments.takeFirst();
    const QFileInfo info(QDir(directory).absoluteFilePath(program));
    if (arguments.isEmpty() && info.exists() && (info.isDir() || !info.isExecutable())) {
        // A folder or a document: the desktop opens it with its handler.
        return launcher_.openUrl(QUrl::fromLocalFile(info.absoluteFilePath()));
    }
    if (arguments.isEmpty() && program.contains(QStringLiteral("://"))) {
        return launcher_.openUrl(QUrl(program));
    }
    QString workingDirectory = directory;
    if (calcDirectory && program.contains(u'/')) workingDirectory = info.absolutePath();
    return launcher_.startDetached(program, arguments, workingDirectory);
}

int LinuxShellServices::RunFileDlg(const RunDialogRequest& request) {
    QDialog dialog(request.hwndOwner);
    dialog.setObjectName("runDialog");
    const QString title = TextBeforeNul(request.lpszTitle);
    dialog.setWindowTitle(title.isEmpty() ? QStringLiteral("Выполнить") : title);
    const QIcon icon = IconOrProgram(*icons_, request.hIcon);
    dialog.setWindowIcon(icon);

    auto* layout = new QVBoxLayout(&dialog);
    auto* top = new QHBoxLayout;
    auto* iconLabel = new QLabel(&dialog);
    iconLabel->setPixmap(icon.pixmap(kLargeIconPixels));
    top->addWidget(iconLabel, 0, Qt::AlignTop);
    QString description = TextBeforeNul(request.lpszDescription);
    if (description.isEmpty()) {
        description = QStringLiteral(
            "Введите имя программы, папки, документа или ресурса, и система откроет их.");
    }
    auto* descriptionLabel = new QLabel(description, &dialog);
    descriptionLabel->setObjectName("description");
    descriptionLabel->setWordWrap(true);
    top->addWidget(descriptionLabel, 1);
    layout->addLayout(top);

    auto* row = new QHBoxLayout;
    auto* label = new QLabel(QStringLiteral("Открыть:"), &dialog);
    label->setObjectName("commandLabel");
    label->setVisible(!(request.uFlags & kRffNoLabel));
    auto* edit = new QLineEdit(&dialog);
    edit->setObjectName("commandEdit");
    if (!(request.uFlags & kRffNoDefault)) edit->setText(lastCommand_);
    edit->selectAll();
    label->setBuddy(edit);
    row->addWidget(label);
    row->addWidget(edit, 1);
    layout->addLayout(row);

    auto* box = AddButtons(&dialog, QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    auto* browse = box->addButton(QStringLiteral("Обзор..."), QDialogButtonBox::ActionRole);
    browse->setObjectName("browseButton");
    browse->setVisible(!(request.uFlags & kRffNoBrowse));
    layout->addWidget(box);
    QObject::connect(browse, &QPushButton::clicked, &dialog, [&] {
        const QString file = QFileDialog::getOpenFileName(&dialog, QStringLiteral("Обзор"));
        if (!file.isEmpty())
            edit->setText(QProcess::splitCommand(file).size() == 1 ? file : u'"' + file + u'"');
    });
    QObject::connect(box, &QDialogButtonBox::accepted, &dialog, [&] {
        const QString command = edit->text().trimmed();
        if (command.isEmpty()) return;
        if (!StartCommandLine(command, TextBeforeNul(request.lpszDirectory),
                              request.uFlags & kRffCalcDirectory)) {
            QMessageBox::warning(&dialog, dialog.windowTitle(),
                                 QStringLiteral("Не удаётся найти «%1». Проверьте, правильно ли "
                                                "указано имя, и повторите попытку.")
                                     .arg(command));
            return;
        }
        lastCommand_ = command;
        dialog.accept();
    });
    return dialog.exec() == QDialog::Accepted ? 1 : 0;
}

qint32 LinuxShellServices::FormatDrive(QWidget* owner, qint32 drive, qint32 fmtID, qint32 options) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("Форматирование"),
                    QStringLiteral("Эта программа не форматирует диски."), QMessageBox::Ok, owner);
    box.setObjectName("formatDialog");
    box.setInformativeText(QStringLiteral("Запрошено: диск %1, формат %2, параметры %3.")
                               .arg(drive)
                               .arg(fmtID)
                               .arg(options));
    box.button(QMessageBox::Ok)->setText(QStringLiteral("ОК"));
    box.exec();
    return kShFmtNoFormat;
}

int LinuxShellServices::PickIconDlg(QWidget* owner, QString& path, int cchPath, int& index) {
    QDialog dialog(owner);
    dialog.setObjectName("pickIconDialog");
    dialog.setWindowTitle(QStringLiteral("Смена значка"));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Искать значки в файле:"), &dialog));
    auto* row = new QHBoxLayout;
    auto* edit = new QLineEdit(TextBeforeNul(path), &dialog);
    edit->setObjectName("pathEdit");
    auto* browse = new QPushButton(QStringLiteral("Обзор..."), &dialog);
    browse->setObjectName("browseButton");
    row->addWidget(edit, 1);
    row->addWidget(browse);
    layout->addLayout(row);
    layout->addWidget(new QLabel(QStringLiteral("Выберите значок из списка:"), &dialog));
    auto* list = new QListWidget(&dialog);
    list->setObjectName("iconList");
    list->setViewMode(QListView::IconMode);
    list->setIconSize(QSize(kLargeIconPixels, kLargeIconPixels));
    list->setMovement(QListView::Static);
    layout->addWidget(list);
    auto* box = AddButtons(&dialog, QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(box, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(box);

    const auto load = [&](int selected) {
        list->clear();
        const QList<QImage> images = IconImages(edit->text());
        for (const QImage& image : images) {
            list->addItem(new QListWidgetItem(QIcon(QPixmap::fromImage(image)), QString()));
        }
        if (list->count() > 0) list->setCurrentRow(qBound(0, selected, list->count() - 1));
    };
    const auto updateOk = [&] {
        box->button(QDialogButtonBox::Ok)->setEnabled(list->currentRow() >= 0);
    };
    QObject::connect(edit, &QLineEdit::editingFinished, &dialog, [&] {
        load(0);
        updateOk();
    });
    QObject::connect(list, &QListWidget::currentRowChanged, &dialog, updateOk);
    QObject::connect(browse, &QPushButton::clicked, &dialog, [&] {
        const QString file = QFileDialog::getOpenFileName(
            &dialog, QStringLiteral("Смена значка"), QFileInfo(edit->text()).absolutePath(),
            QStringLiteral("Значки (*.ico *.png *.svg);;Все файлы (*)"));
        if (file.isEmpty()) return;
        edit->setText(file);
        load(0);
        updateOk();
    });
    load(index);
    updateOk();

    if (dialog.exec() != QDialog::Accepted || list->currentRow() < 0) return 0;
    const QString chosen = edit->text();
    if (chosen.size() >= cchPath) return 0;  // no room for the terminator
    path = chosen + QString(cchPath - chosen.size(), QChar(u'\0'));
    index = list->currentRow();
    return 1;
}

int LinuxShellServices::ExtractIconEx(const QString& path, int index, quint32* large,
                                      quint32* small, int nIcons) {
    if (nIcons < 1 || index < 0) return 0;
    const QList<QImage> images = IconImages(path);
    if (index >= images.size()) return 0;
    const QImage& image = images[index];
    const auto scaled = [&](int pixels) {
        return QIcon(QPixmap::fromImage(
            image.scaled(pixels, pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    };
    if (large) *large = icons_->Add(scaled(kLargeIconPixels));
    if (small) *small = icons_->Add(scaled(kSmallIconPixels));
    return 1;
}

quint32 LinuxShellServices::CopyIcon(quint32 icon) {
    return icons_->CopyIcon(icon);
}

bool LinuxShellServices::DestroyIcon(quint32 icon) {
    return icons_->DestroyIcon(icon);
}

namespace {

// Numbers and dates as a Russian reader writes them.
QLocale Russian() {
    return QLocale(QLocale::Russian, QLocale::Russia);
}

void AddRow(QFormLayout* form, const QString& label, const QString& value) {
    auto* text = new QLabel(value);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(label, text);
}

QString Permissions(QFile::Permissions p) {
    static const struct {
        QFile::Permission flag;
        char letter;
    } bits[] = {
        {QFile::ReadOwner, 'r'}, {QFile::WriteOwner, 'w'}, {QFile::ExeOwner, 'x'},
        {QFile::ReadGroup, 'r'}, {QFile::WriteGroup, 'w'}, {QFile::ExeGroup, 'x'},
        {QFile::ReadOther, 'r'}, {QFile::WriteOther, 'w'}, {QFile::ExeOther, 'x'},
    };
    QString text;
    for (const auto& b : bits) text += p.testFlag(b.flag) ? QChar(b.letter) : QChar(u'-');
    return text;
}

QWidget* PathGeneralPage(const QFileInfo& info) {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    AddRow(form, QStringLiteral("Имя:"),
           info.fileName().isEmpty() ? info.filePath() : info.fileName());
    AddRow(form, QStringLiteral("Тип:"),
           info.isDir() ? QStringLiteral("Папка") : QStringLiteral("Файл"));
    AddRow(form, QStringLiteral("Расположение:"), info.absolutePath());
    if (info.isDir()) {
        const qsizetype count =
            QDir(info.absoluteFilePath())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                .size();
        AddRow(form, QStringLiteral("Содержит:"), QStringLiteral("объектов: %1").arg(count));
    } else {
        AddRow(form, QStringLiteral("Размер:"),
               QStringLiteral("%1 байт").arg(Russian().toString(info.size())));
    }
    AddRow(form, QStringLiteral("Изменён:"),
           Russian().toString(info.lastModified(), QLocale::LongFormat));
    if (info.isSymLink()) AddRow(form, QStringLiteral("Ссылается на:"), info.symLinkTarget());
    return page;
}

QWidget* PathPermissionsPage(const QFileInfo& info) {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    AddRow(form, QStringLiteral("Владелец:"), info.owner());
    AddRow(form, QStringLiteral("Группа:"), info.group());
    AddRow(form, QStringLiteral("Права:"), Permissions(info.permissions()));
    return page;
}

QWidget* PrinterGeneralPage(const QPrinterInfo& info) {
    auto* page = new QWidget;
    auto* form = new QFormLayout(page);
    AddRow(form, QStringLiteral("Имя:"), info.printerName());
    AddRow(form, QStringLiteral("Описание:"), info.description());
    AddRow(form, QStringLiteral("Модель:"), info.makeAndModel());
    AddRow(form, QStringLiteral("Расположение:"), info.location());
    QString state;
    switch (info.state()) {
        case QPrinter::Idle:
            state = QStringLiteral("Готов");
            break;
        case QPrinter::Active:
            state = QStringLiteral("Печать");
            break;
        case QPrinter::Aborted:
            state = QStringLiteral("Прерван");
            break;
        case QPrinter::Error:
            state = QStringLiteral("Ошибка");
            break;
    }
    AddRow(form, QStringLiteral("Состояние:"), state);
    AddRow(form, QStringLiteral("По умолчанию:"),
           info.isDefault() ? QStringLiteral("да") : QStringLiteral("нет"));
    return page;
}

}  // namespace

bool LinuxShellServices::ObjectProperties(const ObjectPropertiesRequest& request) {
    const QString name = TextBeforeNul(request.pszObjectName);
    if (name.isEmpty()) return false;
    QDialog dialog(request.hwndOwner);
    dialog.setObjectName("propertiesDialog");
    auto* layout = new QVBoxLayout(&dialog);
    auto* pages = new QTabWidget(&dialog);
    pages->setObjectName("pages");
    layout->addWidget(pages);
    if (request.shopObjectType == kShopPrinterName) {
        const QPrinterInfo info = QPrinterInfo::printerInfo(name);
        if (info.isNull()) return false;
        pages->addTab(PrinterGeneralPage(info), QStringLiteral("Общие"));
    } else if (request.shopObjectType == kShopFilePath) {
        const QFileInfo info(name);
        if (!info.exists() && !info.isSymLink()) return false;
        pages->addTab(PathGeneralPage(info), QStringLiteral("Общие"));
        pages->addTab(PathPermissionsPage(info), QStringLiteral("Права"));
    } else {
        return false;
    }
    dialog.setWindowTitle(QStringLiteral("Свойства: %1").arg(name));
    const QString first = TextBeforeNul(request.pszPropertyPage);
    for (int i = 0; i < pages->count(); ++i) {
        if (!first.isEmpty() && pages->tabText(i).compare(first, Qt::CaseInsensitive) == 0) {
            pages->setCurrentIndex(i);
        }
    }
    layout->addWidget(AddButtons(&dialog, QDialogButtonBox::Close));
    dialog.exec();
    return true;
}

QString LinuxShellServices::TrashFolder() const {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Trash/files");
}

bool LinuxShellServices::StartDisplaySettings() {
    static const CommandLine candidates[] = {
        {"gnome-control-center", {"display"}},
        {"systemsettings", {"kcm_kscreen"}},
        {"kcmshell6", {"kcm_kscreen"}},
        {"kcmshell5", {"kcm_kscreen"}},
        {"xfce4-display-settings", {}},
        {"cinnamon-settings", {"display"}},
        {"mate-display-properties", {}},
        {"lxqt-config-monitor", {}},
        {"arandr", {}},
    };
    for (const CommandLine& c : candidates) {
        const QString program = launcher_.findExecutable(c.program);
        if (!program.isEmpty()) return launcher_.startDetached(program, c.arguments, QString());
    }
    return false;
}

int LinuxShellServices::ShellAbout(const AboutRequest& request) {
    const QString app = TextBeforeNul(request.szApp);
    const qsizetype hash = app.indexOf(u'#');
    const QString caption = hash < 0 ? app : app.left(hash);
    const QString firstLine = hash < 0 ? app : app.mid(hash + 1);

    QDialog dialog(request.hwndOwner);
    dialog.setObjectName("aboutDialog");
    dialog.setWindowTitle(QStringLiteral("О программе %1").arg(caption).trimmed());
    const QIcon icon = IconOrProgram(*icons_, request.hIcon);
    auto* layout = new QHBoxLayout(&dialog);
    auto* iconLabel = new QLabel(&dialog);
    iconLabel->setPixmap(icon.pixmap(kLargeIconPixels));
    layout->addWidget(iconLabel, 0, Qt::AlignTop);
    auto* column = new QVBoxLayout;
    for (const QString& line : {firstLine, QSysInfo::prettyProductName(),
                                QStringLiteral("Qt %1").arg(QString::fromLatin1(qVersion())),
                                TextBeforeNul(request.szOtherStuff)}) {
        if (line.isEmpty()) continue;
        auto* label = new QLabel(line, &dialog);
        label->setTextFormat(Qt::PlainText);
        column->addWidget(label);
    }
    auto* box = AddButtons(&dialog, QDialogButtonBox::Ok);
    QObject::connect(box, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    column->addWidget(box);
    layout->addLayout(column);
    dialog.exec();
    return 1;
}

int LinuxShellServices::WinHelp(const HelpRequest& request) {
    if (request.uCommand == kHelpQuit) return 1;  // no viewer of ours to close
    const QString file = TextBeforeNul(request.lpszHelp);
    if (file.isEmpty() || !QFileInfo(file).isFile()) return 0;
    return launcher_.openUrl(QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath())) ? 1 : 0;
}
