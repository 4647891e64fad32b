#pragma once

#include <QWidget>

#include <functional>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QVBoxLayout;

namespace orvex {

class AppModel;
struct SupportMessageItem;

// Writing to support: a report with the logs when they are kept, and the conversation with
// support, where the user answers, attaches a file, and saves the files support sent.
class SupportPanel : public QWidget {
    Q_OBJECT
public:
    explicit SupportPanel(AppModel& model, QWidget* parent = nullptr);

    // The file chooser behind "Приложить": a path, or the empty text when the user cancelled.
    // Tests answer it in advance.
    static std::function<QString(QWidget* parent)> chooseFile;

private:
    void refreshNote();
    void refreshMessages();
    QWidget* bubble(const SupportMessageItem& message);
    void sendReport();
    void sendReply();
    void attach();

    AppModel& model_;
    QPlainTextEdit* report_;
    QLabel* note_;
    QPushButton* reload_;
    QVBoxLayout* messages_;
    QLineEdit* reply_;
};

} // namespace orvex
