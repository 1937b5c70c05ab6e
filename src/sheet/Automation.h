#pragma once
// The spreadsheet application as the report drives it: application,
// workbooks, workbook, worksheet, columns, column and cell objects with the
// members the report calls, under the application's own member names.
//
// Conventions:
// - Objects are shared handles (std::shared_ptr). A handle stays usable as
//   long as it is held; what it refers to may end (a closed workbook, an
//   application after Quit), and then every call on it fails.
// - A property read is the member called with no value (`Name()`), a property
//   write the member called with the value (`Name(text)`).
// - Indexes are 1-based, as in the application.
// - Every call succeeds as a whole or throws Error (t5170::sheet::SheetError)
//   with a description the operator can read; nothing else is thrown.
//
// createApplication("Excel.Application") starts the embedded engine, a fresh
// hidden instance without workbooks. Texts written to cells are taken as if
// typed in the program's Russian locale (TypedInput.h).

#include "sheet/SheetModel.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace t5170::automation {

using Error = sheet::SheetError;

class Application;
class Workbooks;
class Workbook;
class Worksheet;
class Columns;
class Column;
class Cell;
using ApplicationPtr = std::shared_ptr<Application>;
using WorkbooksPtr = std::shared_ptr<Workbooks>;
using WorkbookPtr = std::shared_ptr<Workbook>;
using WorksheetPtr = std::shared_ptr<Worksheet>;
using ColumnsPtr = std::shared_ptr<Columns>;
using ColumnPtr = std::shared_ptr<Column>;
using CellPtr = std::shared_ptr<Cell>;

// A cell's value as read, converted by the caller like a variant:
// - toText(): empty cell ""; a text as it is; a number in a date format as
//   dd.MM.yyyy, in a time format as HH:mm:ss, in a date-and-time format as
//   "dd.MM.yyyy HH:mm:ss"; any other number as its general text ("1,5").
// - toDouble(): empty cell 0; a number as it is, except that a date or
//   date-and-time is given in days since 30.12.1899 whatever the workbook's
//   date system (a time of day stays the fraction of a day); a text that is
//   a number in the program's locale ("1,5", "999,") that number; any other
//   text throws Error.
class CellValue {
public:
    CellValue() = default;
    CellValue(sheet::Cell cell, bool date1904) : cell_(std::move(cell)), date1904_(date1904) {}

    bool isEmpty() const { return cell_.kind == sheet::Cell::Kind::Empty; }
    bool isNumber() const { return cell_.kind == sheet::Cell::Kind::Number; }
    bool isText() const { return cell_.kind == sheet::Cell::Kind::Text; }
    QString toText() const;
    double toDouble() const;
    // The stored cell (number in the workbook's own date system, file-form
    // display format).
    const sheet::Cell& cell() const { return cell_; }

private:
    sheet::Cell cell_;
    bool date1904_ = false;
};

class Cell {
public:
    virtual ~Cell() = default;
    // Value write: a text is taken as typed (a date, time or number text
    // becomes that value, an empty text empties the cell); an integer or a
    // double is stored as a number (NaN and infinities fail).
    virtual void Value(const QString& text) = 0;
    virtual void Value(std::int32_t number) = 0;
    virtual void Value(double number) = 0;
    virtual CellValue Value() = 0;
    // Display format, as the report writes it ("ДД.ММ.ГГГГ", "ЧЧ:ММ:СС") or
    // in file form; read back in file form ("DD.MM.YYYY"; "" is General).
    virtual void NumberFormat(const QString& format) = 0;
    virtual QString NumberFormat() = 0;
};

class Column {
public:
    virtual ~Column() = default;
    // Width in characters, 0 to 255 (the report writes whole numbers).
    virtual void ColumnWidth(double width) = 0;
    // The width set or read from the file; a column never set reads as the
    // default width 8.43.
    virtual double ColumnWidth() = 0;
};

class Columns {
public:
    virtual ~Columns() = default;
    // Column 1 to 16384.
    virtual ColumnPtr Item(int column) = 0;
};

class Worksheet {
public:
    virtual ~Worksheet() = default;
    // The tab name: 1 to 31 characters, none of : \ / ? * [ ], not starting
    // or ending with an apostrophe, unique in its workbook ignoring case.
    virtual void Name(const QString& name) = 0;
    virtual QString Name() = 0;
    virtual ColumnsPtr Columns() = 0;
    // Row 1 to 1048576, column 1 to 16384. The cell need not hold anything.
    virtual CellPtr Cells(int row, int column) = 0;
};

class Workbook {
public:
    virtual ~Workbook() = default;
    // The sheet at 1-based position `index`; fails when there is none.
    virtual WorksheetPtr WorkSheets(int index) = 0;
    // Saves to the workbook's own file, in the format its name calls for
    // (".xlsx": OOXML, anything else: BIFF8 .xls). Fails for a workbook that
    // has no file yet or was opened read-only. The save is atomic: on failure
    // the previous file is left as it was.
    virtual void Save() = 0;
    // Saves under `path` (made absolute), which from then on is the
    // workbook's file; atomic like Save.
    virtual void SaveAs(const QString& path) = 0;
    // Closes without saving (unsaved changes are discarded, nothing is
    // asked). Every later call on the workbook or its sheets and cells fails.
    virtual void Close() = 0;
    // Prints every sheet with content through the program's printing; fails
    // when the program installed none.
    virtual void PrintOut() = 0;
};

class Workbooks {
public:
    virtual ~Workbooks() = default;
    // A new workbook with SheetsInNewWorkbook sheets "Лист1", "Лист2", ...,
    // added at the end of the collection.
    virtual WorkbookPtr add() = 0;
    // Opens the workbook file at `path`; the format is told by the content
    // (BIFF8 or OOXML), not by the name. `readOnly` makes Save fail;
    // `updateLinks` and `format` are accepted and ignored (the report passes
    // 0 and 1). Fails with a description for anything that is not a
    // readable workbook.
    virtual WorkbookPtr Open(const QString& path, int updateLinks = 0, bool readOnly = false,
                             int format = 1) = 0;
    virtual int Count() = 0;
};

class Application {
public:
    virtual ~Application() = default;
    // Sheets of the next new workbook, 1 to 255 (3 at start).
    virtual void SheetsInNewWorkbook(int count) = 0;
    virtual WorkbooksPtr WorkBooks() = 0;
    // The open workbook at 1-based position `index`.
    virtual WorkbookPtr WorkBooks(int index) = 0;
    // The engine never asks questions; the flag is kept for form's sake.
    virtual void DisplayAlerts(bool on) = 0;
    // Shows or hides the application's window (EngineHooks.h).
    virtual void Visible(bool on) = 0;
    // Called when the operator closes the application's window, which hides
    // it as Visible(false) would. Not an automation call: it never fails.
    virtual void setWindowClosedHandler(std::function<void()> closed) = 0;
    // Ends the instance: open workbooks are closed without saving, the
    // window is hidden, and every later call on any of its objects fails.
    virtual void Quit() = 0;
};

// Creates an application by its programmatic identifier. "Excel.Application"
// (ignoring case) starts the embedded engine; any other name fails.
ApplicationPtr createApplication(const QString& progId);

// How the report obtains its application; tests substitute one that fails
// on demand (FailingAutomation.h).
using ApplicationFactory = std::function<ApplicationPtr(const QString& progId)>;

} // namespace t5170::automation
