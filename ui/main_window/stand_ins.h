#pragma once
// TEMPORARY: minimal stand-ins for CoolBar, ClsDialog and the dialog backend
// until their branches land. Removed on merge.

#include <QFont>
#include <QPainter>
#include <QString>
#include <QVariant>
#include <QWidget>

#include <deque>
#include <map>

class PropertyBag {
  public:
    QVariant ReadProperty(const QString& key, const QVariant& def) const {
        auto it = values.find(key);
        return it == values.end() ? def : it->second;
    }
    void WriteProperty(const QString& key, const QVariant& v, const QVariant&) { values[key] = v; }
    std::map<QString, QVariant> values;
};

class CoolBar : public QWidget {
  public:
    explicit CoolBar(QWidget* parent = nullptr) : QWidget(parent) {}
    double Value() const { return value_; }
    void setValue(double New_Value) {
        value_ = New_Value;
        update();
    }
    double Max() const { return max_; }
    void setMax(double New_Max) { max_ = New_Max; }
    QString Caption() const { return caption_; }
    void setCaption(const QString& New_Caption) { caption_ = New_Caption; }
    void ReadProperties(const PropertyBag& bag) {
        border_ = bag.ReadProperty("BorderStyle", 0).toInt();
        setFont(bag.ReadProperty("Font", font()).value<QFont>());
    }
    int BorderStyle() const { return border_; }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        if (border_) p.drawRect(rect().adjusted(0, 0, -1, -1));
        if (max_ > 0)
            p.fillRect(QRect(1, 1, int((width() - 2) * std::min(1.0, value_ / max_)), height() - 2),
                       Qt::blue);
    }

  private:
    double value_ = 0, max_ = 0;
    int border_ = 0;
    QString caption_ = "Caption";
};

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
