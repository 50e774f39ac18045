// A Qt Widgets window with text fields for the desktop tests; the Qt counterpart of
// gtk-fields.py, with the same arguments, fields, files and commands.
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTextStream>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdio>
#include <map>
#include <unistd.h>

namespace {

QString folder;

void write(const QString& name, const QString& text) {
    QSaveFile file(folder + "/" + name);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(text.toUtf8());
        file.commit();
    }
}

// A field that drops the paste shortcut, as some programs' fields do.
class NoPasteEdit : public QLineEdit {
  protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->matches(QKeySequence::Paste)) {
            event->accept();
            return;
        }
        QLineEdit::keyPressEvent(event);
    }
};

class Window : public QWidget {
  public:
    Window() {
        auto* layout = new QVBoxLayout(this);
        add("normal", new QLineEdit, false);
        add("password", new QLineEdit, true);
        add("nopaste", new NoPasteEdit, false);
        add("secretnopaste", new NoPasteEdit, true);
        for (const auto& [name, field] : fields_) {
            layout->addWidget(field);
        }
    }
    QLineEdit* field(const QString& name) const {
        const auto found = fields_.find(name);
        return found == fields_.end() ? nullptr : found->second;
    }

  protected:
    void showEvent(QShowEvent* event) override {
        QWidget::showEvent(event);
        write("ready", "1");
    }

  private:
    void add(const QString& name, QLineEdit* field, bool secret) {
        field->setParent(this);
        field->setObjectName(name);
        field->setAccessibleName(name);
        if (secret) {
            field->setEchoMode(QLineEdit::Password);
        }
        QObject::connect(field, &QLineEdit::textChanged,
                         [name](const QString& text) { write(name + ".txt", text); });
        fields_[name] = field;
    }

    std::map<QString, QLineEdit*> fields_;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 4) {
        std::fputs("usage: qt-fields FOLDER TITLE CLASS\n", stderr);
        return 2;
    }
    folder = QString::fromLocal8Bit(argv[1]);
    QApplication::setApplicationName(QString::fromLocal8Bit(argv[3]));
    Window window;
    window.setWindowTitle(QString::fromLocal8Bit(argv[2]));

    QFile input;
    input.open(stdin, QIODevice::ReadOnly);
    QSocketNotifier commands(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&commands, &QSocketNotifier::activated, [&] {
        const QString line = QString::fromUtf8(input.readLine()).trimmed();
        const QStringList words = line.split(' ', Qt::SkipEmptyParts);
        if (line.isEmpty() || line == "quit") {
            app.quit();
        } else if (words.size() == 2 && words[0] == "focus" && window.field(words[1])) {
            window.activateWindow();
            window.raise();
            window.field(words[1])->setFocus();
            write("focused", words[1]);
        }
    });
    window.show();
    return app.exec();
}
