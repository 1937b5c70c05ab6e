#pragma once
// The report's questions and boxes for tests that run the report unattended.

#include "ReportDialogs.h"

#include <QStringList>

#include <optional>
#include <utility>

namespace t5170::testing {

// Error boxes and questions of the report, recorded; a question is answered
// with `answer`, a file dialog with `saveName` or `openName` (once) or
// cancelled.
class RecordingDialogs : public report::ReportDialogs {
public:
    QStringList errors;
    QStringList questions;
    bool answer = false; // to every question
    std::optional<QString> saveName;
    std::optional<QString> openName;

    void errorBox(const QString&, const QString& text) override { errors << text; }
    bool askYesNo(const QString&, const QString& text) override {
        questions << text;
        return answer;
    }
    std::optional<QString> openFileName() override { return std::exchange(openName, {}); }
    std::optional<QString> saveFileName() override { return std::exchange(saveName, {}); }
};

} // namespace t5170::testing
