#pragma once
// The engine's own window: a read-only view of a workbook, a tab per sheet,
// following the live model as cells are written. Also the engine ui that
// the program installs (setEngineUiFactory) so that `Visible` opens this
// window and `PrintOut` prints.

#include "EngineHooks.h"
#include "SheetModel.h"

#include <QAbstractTableModel>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <vector>

class QTabWidget;
class QTableView;

namespace t5170::sheet {

// One sheet of a live workbook as a table. Changes are collected by
// noteChange() and published together by publish(), so a burst of writes
// costs one repaint of what is on screen.
class SheetTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    SheetTableModel(std::shared_ptr<const Workbook> book, int sheet, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void noteChange(int row, int column);
    void noteAllChanged();
    void publish();

private:
    const Sheet* sheet() const;
    void measure(int& rows, int& cols) const;

    std::shared_ptr<const Workbook> book_;
    int sheet_;
    int rows_ = 0;
    int cols_ = 0;
    bool dirty_ = false;
    bool structure_ = false;
    int top_ = 0, left_ = 0, bottom_ = -1, right_ = -1;
};

class SheetViewer : public QWidget {
    Q_OBJECT
public:
    explicit SheetViewer(QWidget* parent = nullptr);
    ~SheetViewer() override;

    // Shows `book` (null: an empty window) under `title`.
    void setWorkbook(std::shared_ptr<const Workbook> book, const QString& title);
    // A cell (or, with -1, the sheet's name or widths) of the shown workbook
    // changed; the window catches up on its next turn of the event loop.
    void noteChange(int sheet, int row, int column);

    // For the tests: the tabs and their tables.
    QTabWidget* tabs() const { return tabs_; }
    QTableView* table(int sheet) const;
    // Publishes pending changes now.
    void flush();

Q_SIGNALS:
    // The operator closed the window (not hidden by the engine).
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void rebuild();
    void applyWidths(int sheet);
    void refreshNames();

    std::shared_ptr<const Workbook> book_;
    QTabWidget* tabs_;
    std::vector<SheetTableModel*> models_;
    std::vector<bool> widthsDirty_;
    bool namesDirty_ = false;
    bool sheetsDirty_ = false;
    QTimer publishTimer_;
};

// The widget ui of the engine: the viewer window and printing.
class WidgetEngineUi : public EngineUi {
public:
    WidgetEngineUi();
    ~WidgetEngineUi() override;

    void show(std::shared_ptr<const Workbook> book, const QString& title) override;
    void hide() noexcept override;
    void changed(int sheet, int row, int column) noexcept override;
    void print(const Workbook& book, const QString& title) override;

    // The window, once shown (for the tests).
    SheetViewer* viewer() const { return viewer_.get(); }

private:
    std::unique_ptr<SheetViewer> viewer_;
};

// Installs WidgetEngineUi for every application created from now on.
void installWidgetEngineUi();

} // namespace t5170::sheet
