#pragma once
// The Config helper: one settings file per section in the settings folder.
// Loading tells current from legacy form by the `Version` key; saving always
// rewrites the section in the current form, atomically.
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/profile_file.h"

namespace qm::core {

class SettingsSection {
public:
    SettingsSection(std::filesystem::path path, std::string section, platform::ProfileFile file)
        : path_(std::move(path)), section_(std::move(section)), file_(std::move(file)) {}
    // A file that exists but could not be read: `readError` is its errno.
    SettingsSection(std::filesystem::path path, std::string section, int readError)
        : path_(std::move(path)), section_(std::move(section)), readError_(readError) {}

    const std::string& Name() const { return section_; }
    const std::filesystem::path& Path() const { return path_; }
    platform::ProfileFile& File() { return file_; }
    const platform::ProfileFile& File() const { return file_; }
    // `Version` begins with "2": one key per field; otherwise whole legacy records.
    bool IsCurrentForm() const;
    // False (errno set) when the file could not be written, and without
    // touching it when it could not be read: writing back only what this
    // section holds would replace every other setting the file has. A
    // section opened for a change lets the file's other writers go on.
    bool Commit();
    // The errno of a failed read of an existing file; 0 when it was read or missing.
    int ReadError() const { return readError_; }

private:
    friend class Config;

    std::filesystem::path path_;
    std::string section_;
    platform::ProfileFile file_;
    int readError_ = 0;
    std::unique_lock<std::mutex> writing_;  // held from the read to the commit of a change
};

class Config {
public:
    explicit Config(std::filesystem::path settingsFolder) : folder_(std::move(settingsFolder)) {}

    // "<settings>/<file>.ini"; empty when the settings folder is unknown.
    std::filesystem::path FileFor(std::string_view fileName) const;
    // The section as stored (an empty one when the file is missing or
    // unreadable; an unreadable one says so on stderr and refuses Commit).
    SettingsSection Open(std::string_view fileName, std::string_view section) const;
    // The writers below read the whole file, change one section and write
    // the whole file back. Several threads do that to one file (the window
    // module and each kind of window share mod_window.ini), so each such
    // change holds the folder's write lock from the read to Commit(): no
    // section another thread commits meanwhile is lost. A section opened by
    // them is for the change alone; take no other lock while holding one.

    // The section as stored, for changing some of its keys.
    SettingsSection OpenToChange(std::string_view fileName, std::string_view section) const;
    // The section emptied and stamped `Version=2`, ready for the fields; Commit() writes it.
    SettingsSection BeginSave(std::string_view fileName, std::string_view section) const;
    // Like BeginSave, but in a document of its own with nothing read: filled
    // away from the file (a module fills it under its own lock) and then
    // written with Store, so the module's lock and the write lock are never
    // held together.
    SettingsSection BeginDetached(std::string_view fileName, std::string_view section) const;
    // Replaces the stored section by `filled`'s keys, the file's other
    // sections kept; Commit()'s result.
    bool Store(const SettingsSection& filled) const;

    const std::filesystem::path& Folder() const { return folder_; }

private:
    SettingsSection Read(std::filesystem::path path, std::string_view section) const;
    // Emptied and stamped `Version=2`, ready for the fields.
    static SettingsSection Emptied(SettingsSection s);

    std::filesystem::path folder_;
    mutable std::mutex writing_;
};

}  // namespace qm::core
