#pragma once
// TEMPORARY: minimal stand-ins for ClsDialog and the dialog backend
// until their branches land. Removed on merge.

#include <QFont>
#include <QPainter>
#include <QString>
#include <QVariant>
#include <QWidget>

#include <deque>
#include <map>

class DialogBackend {
  public:
    virtual ~DialogBackend() = default;
    virtual QString Open(const QString& current) = 0;
    virtual QString Save(const QString& current) = 0;
    virtual QString Folder() = 0;  // empty on cancel
};

class ScriptedDialogBackend : public DialogBackend {
  public:
    std::deque<QString> answers;  // empty string = cancel
    int shown = 0;
    QString Next() {
        ++shown;
        if (answers.empty()) return {};
        QString a = answers.front();
        answers.pop_front();
        return a;
    }
    QString Open(const QString&) override { return Next(); }
    QString Save(const QString&) override { return Next(); }
    QString Folder() override { return Next(); }
};

class ClsDialog {
  public:
    explicit ClsDialog(DialogBackend* b) : b_(b) {}
    void setInitDir(const QString& s) { initDir_ = s; }
    QString InitDir() const { return initDir_; }
    void setFileName(const QString& s) { fileName_ = s; }
    QString FileName() const { return fileName_; }
    void setFilter(const QString& s) { filter_ = s; }
    void ShowOpen() {
        QString r = b_->Open(fileName_);
        if (!r.isEmpty()) fileName_ = r;
    }
    void ShowSave() {
        QString r = b_->Save(fileName_);
        if (!r.isEmpty()) fileName_ = r;
    }
    QString ShowFolder(const QString&) {
        QString r = b_->Folder();
        if (!r.isEmpty()) initDir_ = r;
        return r;
    }

  private:
    DialogBackend* b_;
    QString initDir_, fileName_, filter_;
};
