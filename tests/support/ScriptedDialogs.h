#pragma once
// The report's questions and boxes, answered from a script and recorded, for
// tests that run the report unattended.

#include "Box.h"

#include "report/ReportDialogs.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>
#include <ostream>
#include <utility>
#include <vector>

namespace t5170::testing {

// Answers the report's questions from queues. A question nobody scripted is
// answered with `otherAnswers` when set, else "No" and noted in
// `unexpected`; a file dialog nobody scripted is cancelled and noted.
class ScriptedDialogs : public report::ReportDialogs {
public:
    std::function<QString()> status;
    std::vector<Box> errors;
    std::vector<Box> questions;
    std::deque<bool> answers;
    std::optional<bool> otherAnswers;
    // Chosen file names; a null QString cancels the dialog.
    std::deque<QString> openNames;
    std::deque<QString> saveNames;
    int openAsked = 0;
    int saveAsked = 0;
    QStringList unexpected;
    // Run while a question or a file dialog is "open" (timers keep firing
    // behind real ones).
    std::function<void()> whileAsking;
    std::function<void()> whileSaveDialog;

    void errorBox(const QString& caption, const QString& text) override {
        errors.push_back({caption, text, status ? status() : QString()});
    }
    bool askYesNo(const QString& caption, const QString& text) override {
        questions.push_back({caption, text, status ? status() : QString()});
        if (whileAsking)
            std::exchange(whileAsking, {})();
        if (answers.empty()) {
            if (otherAnswers)
                return *otherAnswers;
            unexpected << QStringLiteral("question");
            return false;
        }
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    std::optional<QString> openFileName() override {
        ++openAsked;
        return next(openNames, "open dialog");
    }
    std::optional<QString> saveFileName() override {
        ++saveAsked;
        if (whileSaveDialog)
            std::exchange(whileSaveDialog, {})();
        return next(saveNames, "save dialog");
    }

    // The texts of the error boxes shown, in order.
    QStringList errorTexts() const {
        QStringList texts;
        for (const Box& b : errors)
            texts << b.text;
        return texts;
    }

private:
    std::optional<QString> next(std::deque<QString>& q, const char* what) {
        if (q.empty()) {
            unexpected << QString::fromLatin1(what);
            return std::nullopt;
        }
        const QString v = q.front();
        q.pop_front();
        if (v.isNull())
            return std::nullopt;
        return v;
    }
};

} // namespace t5170::testing
