// The local copies of the files that the message server publishes: installing a download
// over a copy only when its content differs, the no-messages text, and reading a category's
// text back.
#pragma once

#include <functional>
#include <mutex>
#include <string>

// Bits of the change mask that FetchAll answers.
enum ChangeMaskBit : unsigned char {
    CHANGED_GENERAL = 1,
    CHANGED_ADMINISTRATIVO = 2,
    CHANGED_OPERATIVO = 4,
    CHANGED_COMERCIAL = 8,
};

// m_nOutcome values.
enum FetchOutcome : int {
    OUTCOME_NO_NEWS = 0,
    OUTCOME_NEWS = 1,
    OUTCOME_NO_CONNECTION = 2,
};

inline constexpr char kDownloadFile[] = "buffer.txt";
// Exactly 44 bytes, written without terminator or line end.
inline constexpr char kNoMessagesText[] = "No hay mensajes para este puesto de trabajo.";
inline constexpr char kOperativoExtension[] = ".txt";
inline constexpr char kAdministrativoExtension[] = ".adm";

// Installs `tempName` as `localName` unless both hold the same bytes. Answers 1 when they
// were identical (the temporary file is deleted, the local one untouched), 0 when the local
// file was absent or different and has been replaced. Either way the temporary file is gone
// afterwards. Code -1000 when the temporary file cannot be opened, -1002 when no buffer can be
// had; CFileException when a file cannot be deleted, renamed or read.
int InstallDownload(const std::string& tempName, const std::string& localName);

// Sets `text` to the file's content up to its first NUL byte; a file that cannot be opened
// gives an empty text, an empty file leaves `text` as it was.
void ReadTextFile(const std::string& path, std::string& text);

// Writes the no-messages text into `path`, creating or truncating it; code -1000 when it
// cannot be opened.
void WriteNoMessagesText(const std::string& path);

// Deletes `path` if it can be opened for reading; a file that cannot be opened or deleted is
// left alone. Never raises.
void RemoveIfReadable(const std::string& path) noexcept;

// The category files of this workstation and their texts.
class CMessageFiles {
public:
    // Answers the kit identifier, or false when the installation has none.
    using KitIdSource = std::function<bool(std::string& kitId)>;

    explicit CMessageFiles(KitIdSource kitIdSource);
    virtual ~CMessageFiles() = default;

    // Puts the no-messages text into the workstation's file with `extension`; nothing when
    // there is no kit identifier or the files are closed.
    void WriteNoMessagesFile(const char* extension);

    // The workstation's file with `extension`; false when there is no kit identifier or one
    // that names no workstation files.
    bool WorkstationFile(const char* extension, std::string& name) const;

    // The readers and the installation of new copies take the files lock, so that a cycle on
    // a worker and the view never open the same file at once (every open is exclusive).
    void GetGeneralText(std::string& text) const;
    void GetComercialText(std::string& text) const;
    void GetOperativoText(std::string& text) const;
    void GetAdministrativoText(std::string& text) const;

    std::string m_strComercialRemote = "comercia.txt";
    std::string m_strComercialLocal = "comercia.txt";
    std::string m_strGeneralRemote = "mensaje.txt";
    std::string m_strGeneralLocal = "mensaje.txt";

protected:
    void GetWorkstationText(const char* extension, std::string& text) const;

    KitIdSource m_kitIdSource;
    mutable std::mutex m_filesLock;
    // Under the lock: no file is written any more.
    bool m_bClosed = false;
};
