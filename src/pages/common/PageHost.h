#pragma once
// What a page may ask of the window that holds it. The main window implements it; pages know the
// window only through this interface and never name another page's controls.
#include <string>

class TFileListView;
class TIconLists;
class TSettings;
class TTempFolders;
class TZipKit;
struct TRunState;

// The pages of the window by index.
enum TPageIndex { kUnzipPage = 0, kUpdatePage = 1, kCreatePage = 2, kBatchPage = 3, kSfxPage = 4 };

class IPageHost {
 public:
  virtual ~IPageHost() = default;

  // The window caption: "Tandor", or "Tandor : name" while an archive is shown.
  virtual void SetCaption(const std::string& archiveFile) = 0;
  // The enabling of the current page's controls: DisableAll, EnableAll (which also runs
  // EnableCommonButtons) and the idle state of a page without loaded data.
  virtual void DisableAll() = 0;
  virtual void EnableAll() = 0;
  virtual void SetPageIdleButtons() = 0;

  // Folder chooser; empty when cancelled. Keeps the settings' BrowseFolder.
  virtual std::string BrowseforFolder(const std::string& title, bool classic, bool allowCreate) = 0;
  // Opens a page of the help folder ("unzip.html").
  virtual void OpenHelpPage(const std::string& page) = 0;
  // Ends the program as its EXIT buttons do.
  virtual void CloseProgram() = 0;

  // Asks for another page, as a click on its tab does (the switching rules apply); returns the page
  // shown afterwards.
  virtual int RequestPage(int index) = 0;
  // Hands an archive to another page, which takes it over (lists it, converts it, ...).
  virtual void HandArchiveTo(int index, const std::string& archive) = 0;

  // The archive shown on the unzip page, or just created or converted.
  virtual std::string CurrentArchiveFile() const = 0;
  virtual void SetCurrentArchiveFile(const std::string& archive) = 0;
  // Set when the loaded archive was extracted (it is then not queued at exit).
  virtual bool ArchiveExtracted() const = 0;
  virtual void SetArchiveExtracted(bool extracted) = 0;
  // Set while one of the program's modal windows is shown.
  virtual void SetModalDialogOpen(bool open) = 0;
  // The list that takes files dropped on the window; none when null.
  virtual void SetDropTarget(TFileListView* list) = 0;
  // Puts an archive into the incoming queue unless it is there (any letter case).
  virtual void AddToQueue(const std::string& archive) = 0;
  // Empties the temporary folders, keeping the queued archives that stand in them.
  virtual void ClearTempFolders() = 0;

  virtual TSettings& Settings() = 0;
  virtual TRunState& RunState() = 0;
  virtual TTempFolders& TempFolders() = 0;
  // The shared file-type icons (FindFilesIcon).
  virtual TIconLists& Icons() = 0;
  // The window's zip component; its events are answered by the window.
  virtual TZipKit& ZipKit() = 0;
};
