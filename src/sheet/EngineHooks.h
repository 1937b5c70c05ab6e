#pragma once
// The embedded spreadsheet engine has no widgets of its own: showing the
// application (`Visible`) and printing (`PrintOut`) go through this interface,
// which the viewer window and the printing code implement. The program
// installs a factory once at start; every application created afterwards
// asks it for its own ui.

#include "sheet/SheetModel.h"

#include <QString>

#include <functional>
#include <memory>

namespace t5170::sheet {

class EngineUi {
public:
    virtual ~EngineUi() = default;

    // Show the application's window with `book`, the application's first
    // open workbook, or an empty window when `book` is null. Called on
    // Visible(true) and, while shown, again whenever the first open workbook
    // changes (one is added or opened while none was open, the shown one is
    // closed). `book` is the live model: the engine keeps changing it in
    // place and reports each change through changed(). `title` is the
    // workbook's file name, or "Книга1" and so on for a workbook never saved.
    // Throws SheetError when the window cannot be shown.
    virtual void show(std::shared_ptr<const Workbook> book, const QString& title) = 0;

    // Hide the window (Visible(false), Quit, or the application released).
    // Must not throw.
    virtual void hide() noexcept = 0;

    // While shown: the shown workbook changed. A cell was written at the
    // 0-based `sheet`, `row`, `column`; with row and column -1 the sheet's
    // name or its column widths changed. Must not throw: the write has
    // already happened.
    virtual void changed(int sheet, int row, int column) noexcept = 0;

    // Print every sheet of `book` that has content. Throws SheetError when it
    // cannot print (no printer and the dialog cancelled, a printing error).
    virtual void print(const Workbook& book, const QString& title) = 0;

    // The engine's way to learn that the operator closed the window: the ui
    // calls it then, and not when the engine hides the window itself.
    void setClosedHandler(std::function<void()> closed) { closed_ = std::move(closed); }

protected:
    void notifyClosed() const {
        if (closed_)
            closed_();
    }

private:
    std::function<void()> closed_;
};

using EngineUiFactory = std::function<std::shared_ptr<EngineUi>()>;

// Installs the factory every application created from now on takes its ui
// from (an empty function: none). Without a ui, Visible(true) only records
// the state and PrintOut fails.
void setEngineUiFactory(EngineUiFactory factory);

} // namespace t5170::sheet
