// The Setup sheet: CFileOpenPropSheet, captioned "Files", with the pages
// CPropertyPageMV2 (tab "QZ6-Gen2", first) and CPropertyPageQZ6 (tab "QZ6"),
// where the operator picks the firmware files and the baud-rate setting of
// both platforms. CProgrammerDlg::RunSetup copies the settings in, lets the
// front end run the sheet modally and copies the pages back on OK.
//
// The model keeps both sides of each page: the members (what the settings are
// copied from and to) and the controls' contents (what the operator sees and
// types). The front end shows the controls' contents, reports typing, tab
// changes, Browse results and OK to the model, and closes the sheet only when
// OnOK accepts. Window thread only.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

// Control ids shared by both page templates.
constexpr int IDC_BAUD_COMBO = 1024;
constexpr int IDC_EDIT_RCP = 1016;
constexpr int IDC_EDIT_FPGA = 1017;
constexpr int IDC_EDIT_LDR = 1018;
constexpr int IDC_EDIT_UIM = 1022;
constexpr int IDC_EDIT_VTC = 1025;
constexpr int IDC_EDIT_CPLD = 1037;
constexpr int IDC_EDIT_DSP = 1038;
constexpr int IDC_BROWSE_RCP = 1019;
constexpr int IDC_BROWSE_LDR = 1020;
constexpr int IDC_BROWSE_FPGA = 1021;
constexpr int IDC_BROWSE_UIM = 1023;
constexpr int IDC_BROWSE_VTC = 1026;
constexpr int IDC_BROWSE_CPLD = 1039;
constexpr int IDC_BROWSE_DSP = 1040;
// The sheet's buttons (the system's OK, Cancel and Help ids).
constexpr int kSheetOkId = 1;
constexpr int kSheetCancelId = 2;
constexpr int kSheetHelpId = 9;

// Every text field and the baud combo take at most this many characters.
constexpr size_t kMaxFieldChars = 260;
// Shown when a longer text is taken from a page.
inline constexpr const char* kFieldTooLongText = "Please enter no more than 260 characters.";

// The combo box 1024: a drop-down list with an editable field.
struct ComboBoxState {
  std::vector<std::string> list;  // list entries in order
  int selected = -1;              // selected entry, -1 when none
  std::string editText;           // text of the edit field
};

// The pairs (display text, pattern) of a file-open filter literal such as
// "Run Files (*.run) | *.run | All Files (*.*) | *.* ||", blanks trimmed.
std::vector<std::pair<std::string, std::string>> ParseFileFilter(const std::string& filter);

// One page of the sheet: the framework side shared by both pages.
class CPropertyPage {
 public:
  // One file row: label, edit box, Browse button and the file-open dialog's
  // initial name and filter.
  struct FileRow {
    const char* label;
    int editId;
    int browseId;
    const char* initialName;
    const char* filter;
    std::string* member;  // the page member the edit box exchanges
    std::string text;     // the edit box's content
  };

  CPropertyPage(const CPropertyPage&) = delete;
  CPropertyPage& operator=(const CPropertyPage&) = delete;
  virtual ~CPropertyPage() = default;

  const char* Caption() const { return m_pszCaption; }
  // The ZANDRIC.INI section whose files and rate the page edits.
  const char* Section() const { return m_pszSection; }
  int TemplateId() const { return m_nTemplateId; }
  // The rows in template order (LDR first, RCP last).
  const std::vector<FileRow>& Rows() const { return m_rows; }
  const FileRow* FindRowByEdit(int editId) const;
  const FileRow* FindRowByBrowse(int browseId) const;
  const ComboBoxState& Combo() const { return m_combo; }
  // Label of the baud combo.
  static constexpr const char* kBaudLabel = "Baud Rate :";

  // The page becomes visible: the first time its controls are created and
  // filled from the members.
  void OnSetActive();
  bool IsCreated() const { return m_bCreated; }
  // Members to controls: each edit box shows its member; the combo selects
  // the first list entry that begins with m_strBaud (case ignored), or else
  // shows m_strBaud in its edit field.
  void UpdateControls();
  // Controls to members, when the operator leaves the page or presses OK: a
  // text over 260 characters is refused with a box (nothing is taken and
  // the page stays); otherwise every member takes its control's text, the
  // baud member the combo's whole edit text.
  bool UpdateMembers();

  // The operator types.
  void SetEditText(int editId, const std::string& text);
  void SetComboEditText(const std::string& text);
  void SelectComboEntry(int index);
  // Browse: the front end ran the file-open dialog for the button's row;
  // a chosen path goes into the row's member and then every control is
  // refreshed from the members (text typed elsewhere and not yet taken is
  // lost). Nothing changes when the dialog was cancelled.
  void OnBrowse(int browseId, const std::optional<std::string>& chosenPath);

  std::string m_strBaud;

 protected:
  CPropertyPage(const char* caption, int templateId, const char* section,
                std::vector<std::string> baudList)
      : m_pszCaption(caption), m_pszSection(section), m_nTemplateId(templateId) {
    m_combo.list = std::move(baudList);
  }
  // The row of the section's file setting under key (label, ids and filter
  // from the settings table), exchanged with member.
  void AddRow(const char* key, std::string* member);

 private:
  FileRow* Row(int editId);

  const char* m_pszCaption;
  const char* m_pszSection;
  int m_nTemplateId;
  std::vector<FileRow> m_rows;
  ComboBoxState m_combo;
  bool m_bCreated = false;
};

// Template 148, tab "QZ6": files of the first-generation scanners.
class CPropertyPageQZ6 : public CPropertyPage {
 public:
  CPropertyPageQZ6();
  // m_strBaud is the first member, held by the base.
  std::string m_strCpldFile;
  std::string m_strDspFile;
  std::string m_strLdrFile;
  std::string m_strRcpFile;
  std::string m_strVtcFile;
};

// Template 149, tab "QZ6-Gen2": files of the MV2 platform.
class CPropertyPageMV2 : public CPropertyPage {
 public:
  CPropertyPageMV2();
  std::string m_strFpgaFile;
  std::string m_strLdrFile;
  std::string m_strRcpFile;
  std::string m_strUimFile;
  std::string m_strVtcFile;
};

// Where a sheet button stands after the sheet's initialisation: its place in
// the row of button places (0 leftmost of three, right-aligned to the sheet).
struct SheetButton {
  int id;
  const char* text;
  int place;
  bool visible;
};

class CFileOpenPropSheet {
 public:
  CFileOpenPropSheet() = default;
  CFileOpenPropSheet(const CFileOpenPropSheet&) = delete;
  CFileOpenPropSheet& operator=(const CFileOpenPropSheet&) = delete;

  static constexpr const char* kCaption = "Files";
  static constexpr int kPageCount = 2;

  // Pages in tab order: 0 "QZ6-Gen2", 1 "QZ6".
  CPropertyPage& GetPage(int index);
  const CPropertyPage& GetPage(int index) const;
  // The page of a ZANDRIC.INI section ("MV2" or "QZ6"); null for another.
  CPropertyPage* FindPage(const std::string& section);
  const CPropertyPage* FindPage(const std::string& section) const;
  int GetActiveIndex() const { return m_nActivePage; }

  // The sheet opens on its first page.
  void OnInitDialog();
  // Tab change: the page being left takes its controls first; false (and
  // no change) when it refuses.
  bool SetActivePage(int index);
  // OK: the active page takes its controls; false when it refuses (the
  // sheet stays open). Pages never shown keep their members as copied in.
  bool OnOK();

  // OK, Cancel and Help after the initialisation: no Apply button, Help
  // hidden, Cancel in Help's place, OK in Cancel's.
  static std::vector<SheetButton> Buttons();

  CPropertyPageMV2 m_pageMV2;
  CPropertyPageQZ6 m_pageQZ6;

 private:
  int m_nActivePage = 0;
};
