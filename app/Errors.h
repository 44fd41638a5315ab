// Error codes of ordinary failures and the exception types that carry failures to the
// user-level handlers.
#pragma once

#include <stdexcept>
#include <string>

// Codes are counted down from -1000; their texts are in CErrorText.
enum ErrorCode : long {
    ERR_FILE_OPEN = -1000,
    ERR_NO_MEMORY = -1002,
    ERR_REGISTRY_READ = -1003,
    ERR_REGISTRY_WRITE = -1004,
};

// An ordinary failure: caught by the handler of the user's action, which shows the code's
// text in the "ATENCION" box.
class CCodeException {
public:
    explicit CCodeException(long code) noexcept : m_nCode(code) {}
    long Code() const noexcept { return m_nCode; }

private:
    long m_nCode;
};

// A failure of the system that the user can only be told about: its text comes from the
// system and is shown by the standard error report (ReportError in app/ErrorReport.h).
class CSystemException : public std::exception {
public:
    // The error number given by the system.
    virtual unsigned long ErrorNumber() const noexcept = 0;
    // The text shown to the user, Windows-1252.
    virtual std::string GetErrorMessage() const = 0;
    const char* what() const noexcept override { return "system failure"; }
};

// A file that could not be deleted, renamed, read or written.
class CFileException : public CSystemException {
public:
    CFileException(unsigned long osError, std::string fileName)
        : m_lOsError(osError), m_strFileName(std::move(fileName)) {}
    unsigned long ErrorNumber() const noexcept override { return m_lOsError; }
    const std::string& FileName() const noexcept { return m_strFileName; }
    std::string GetErrorMessage() const override;

private:
    unsigned long m_lOsError;
    std::string m_strFileName;
};

// The system's text for an error number, Windows-1252, without a trailing line end.
std::string SystemErrorText(unsigned long osError);
// An error number with its text as the user's boxes show it: "(N) - text".
std::string NumberedErrorText(unsigned long number, const std::string& text);
