// The window's conversions and batch commands.
// TO BE FILLED BY THE BATCH WORK: every body below is a placeholder that only reports that the
// command is missing; the real commands replace this file.
#include "app/Main.h"

#include "platform/Errors.h"

namespace pelfry {

static void NotAvailable() { throw Error("This command is not available yet"); }

void TMainForm::ConvertFile(const std::string&, std::string&) { NotAvailable(); }
void TMainForm::ConvertBack(const std::string&, bool, bool&, std::string&) { NotAvailable(); }
void TMainForm::ConvertImgFile(const std::string&) { NotAvailable(); }
void TMainForm::ConvertSprFile(const std::string&) { NotAvailable(); }
void TMainForm::ConvertSpdFile(const std::string&) { NotAvailable(); }
void TMainForm::ConvertBmpFile(const std::string&) { NotAvailable(); }

void TMainForm::btnExtractClick() { NotAvailable(); }
void TMainForm::btnExtrConvertClick() { NotAvailable(); }
void TMainForm::btnDeleteClick() { NotAvailable(); }
void TMainForm::btnAddClick() { NotAvailable(); }
void TMainForm::btnConvAddClick() { NotAvailable(); }
void TMainForm::btnExtrConvLogClick() { NotAvailable(); }
void TMainForm::btnConvAddLogClick() { NotAvailable(); }

} // namespace pelfry
