; The Windows setup program of the package: Z47_Masaustu_Araclari_Tam_Paketi-<version>-setup.exe.
;
; Built by scripts/make_windows_setup.py (the build's windows_setup target) with makensis 3.08
; or later, which passes:
;   VERSION        three numbers, as the project has it (2.0.0)
;   FILES_INCLUDE  setup_files.nsh, written from the package folder: the File lines, the Delete
;                  and RMDir lines of the uninstaller, and PACKAGE_SIZE_KB
;   ICON           the launcher's icon (z47_centre.ico of the Windows build)
;   OUTFILE        where the setup goes
; The script is UTF-8; makensis reads it so with -INPUTCHARSET UTF8.
;
; What it does:
;   - installs for the current user, without administrator rights, into
;     %LOCALAPPDATA%\Programs\Z47_Masaustu_Araclari_Tam_Paketi (another folder on the directory
;     page, or /D=<folder>, last on the command line); the uninstall entry in HKCU, the
;     shortcut in the user's Start menu.
;   - for all users, into $PROGRAMFILES64, with HKLM and the common Start menu: only when the
;     setup runs with administrator rights and that is chosen, on the page that asks (shown
;     only then) or with /AllUsers.  /CurrentUser chooses the default.
;   - /S installs without a question.  Over an earlier installation (the uninstall entry of the
;     same mode), it first runs that installation's own uninstaller silently and waits for it,
;     so no file of the old version stays that the new one does not have.
;
; Exit codes of the setup and of its uninstaller:
;   0  done
;   1  the user cancelled
;   2  failed: a file could not be written or removed, or the earlier version's uninstaller failed
;   3  the centre is running (its single-instance mutex exists) and was not closed: nothing changed
;   4  an installation for all users was asked for without administrator rights: nothing changed

Unicode true
Target amd64-unicode

!ifndef VERSION | FILES_INCLUDE | ICON | OUTFILE
  !error "windows_setup.nsi needs VERSION, FILES_INCLUDE, ICON and OUTFILE (scripts/make_windows_setup.py passes them)"
!endif

!define PRODUCT "Z47 Masaüstü Araçları Tam Paketi"
!define CENTRE "Z47 Masaüstü Araçları Kurulum ve Yönetim Merkezi"
!define NAME "Z47_Masaustu_Araclari_Tam_Paketi"
!define LAUNCHER "${NAME}.exe"
!define UNINSTALLER "uninstall.exe"
!define PUBLISHER "Z47 Yazılım Ekibi"
!define COPYRIGHT "© Z47 Yazılım Ekibi ve Tevrix Geliştiricileri"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${NAME}"
; The centre holds this mutex while it runs (launcher/src/texts.hpp).
!define CENTRE_MUTEX "Local\Z47_SINGLE_INSTANCE_z47-linux-sistem-paketi"
!define SYNCHRONIZE 0x00100000
!define EXIT_FAILED 2
!define EXIT_CENTRE_RUNNING 3
!define EXIT_NEEDS_ADMIN 4

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh
!include "${FILES_INCLUDE}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${NAME}"
RequestExecutionLevel user
ManifestDPIAware true
SetCompressor /SOLID lzma
; The same package gives the same setup, whenever its files were laid out.
SetDateSave off
; A file that cannot be written (in use) stops the setup instead of being skipped.
AllowSkipFiles off
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

Var Mode            ; CurrentUser or AllUsers
Var AccountType     ; what UserInfo says of this process: Admin, Power, User, Guest
Var UserDefaultDir
Var MachineDefaultDir
Var DirGiven        ; 1 when /D= named the folder
Var ModePage.CurrentUser
Var ModePage.AllUsers

; --- pages ---------------------------------------------------------------------------------

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_UNABORTWARNING

!define MUI_WELCOMEPAGE_TITLE "${PRODUCT} Kurulumuna Hoş Geldiniz"
!define MUI_WELCOMEPAGE_TEXT "Bu sihirbaz ${CENTRE}'ni ve altı aracını bilgisayarınıza kuracak.$\r$\n$\r$\nKurulum için yönetici izni gerekmez: paket yalnızca sizin için, kendi kullanıcı klasörünüze kurulur. Merkez açıksa kurulumdan önce kapatın.$\r$\n$\r$\nDevam etmek için İleri'ye tıklayın."
!insertmacro MUI_PAGE_WELCOME
Page custom InstallModePage InstallModePageLeave
!define MUI_PAGE_HEADER_SUBTEXT "${PRODUCT} paketinin kurulacağı klasörü seçin."
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "Kurulum Tamamlandı"
!define MUI_FINISHPAGE_TEXT "${PRODUCT} bilgisayarınıza kuruldu. Merkezi Başlat menüsünden açabilirsiniz.$\r$\n$\r$\nSihirbazı kapatmak için Bitir'e tıklayın."
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Merkezi şimdi başlat"
!define MUI_FINISHPAGE_RUN_FUNCTION StartCentre
!define MUI_FINISHPAGE_SHOWREADME
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Masaüstüne kısayol oluştur"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!define MUI_FINISHPAGE_SHOWREADME_FUNCTION MakeDesktopShortcut
!insertmacro MUI_PAGE_FINISH

!define MUI_PAGE_HEADER_SUBTEXT "${PRODUCT} bilgisayarınızdan kaldırılacak."
!insertmacro MUI_UNPAGE_CONFIRM
!define MUI_PAGE_HEADER_SUBTEXT "Lütfen ${PRODUCT} kaldırılırken bekleyin."
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "Turkish"

; --- the version resource, with the launcher's texts (launcher/windows/launcher.rc) ----------

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_TURKISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_TURKISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_TURKISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_TURKISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_TURKISH} "FileDescription" "${PRODUCT} Kurulumu"
VIAddVersionKey /LANG=${LANG_TURKISH} "LegalCopyright" "${COPYRIGHT}"

; --- shared by the setup and its uninstaller -------------------------------------------------

; Waits until the centre is closed: the user closes it and retries, or cancels and the program
; ends with EXIT_CENTRE_RUNNING, before it has changed anything.  Silent: ends at once so.
!macro CENTRE_CLOSED_FUNCTION UN DOING
Function ${UN}CentreClosed
  Push $0
  ${Do}
    System::Call 'kernel32::OpenMutexW(i ${SYNCHRONIZE}, i 0, w "${CENTRE_MUTEX}") p .r0'
    ${If} $0 == 0
      ${Break}
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r0)'
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${CENTRE} şu anda açık.$\r$\n$\r$\n${DOING} için önce merkezi kapatın, sonra Yeniden Dene'ye tıklayın." /SD IDCANCEL IDRETRY retry
    SetErrorLevel ${EXIT_CENTRE_RUNNING}
    Quit
    retry:
  ${Loop}
  Pop $0
FunctionEnd
!macroend
!insertmacro CENTRE_CLOSED_FUNCTION "" "Paketin kurulabilmesi"
!insertmacro CENTRE_CLOSED_FUNCTION "un." "Paketin kaldırılabilmesi"

; --- the setup -----------------------------------------------------------------------------

; Sets the shell folders, the registry root (SHCTX) and, unless /D= named it, the folder to the
; mode in $0: where an earlier installation of that mode is, else the mode's default.
Function UseMode
  StrCpy $Mode $0
  ${If} $Mode == AllUsers
    SetShellVarContext all
  ${Else}
    SetShellVarContext current
  ${EndIf}
  ${If} $DirGiven != 1
    ReadRegStr $1 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $1 != ""
      StrCpy $INSTDIR $1
    ${ElseIf} $Mode == AllUsers
      StrCpy $INSTDIR $MachineDefaultDir
    ${Else}
      StrCpy $INSTDIR $UserDefaultDir
    ${EndIf}
  ${EndIf}
FunctionEnd

Function .onInit
  SetShellVarContext current
  StrCpy $UserDefaultDir "$LOCALAPPDATA\Programs\${NAME}"
  StrCpy $MachineDefaultDir "$PROGRAMFILES64\${NAME}"
  ; $INSTDIR is InstallDir's folder here unless /D= named another.
  ${If} $INSTDIR == $UserDefaultDir
    StrCpy $DirGiven 0
  ${Else}
    StrCpy $DirGiven 1
  ${EndIf}
  UserInfo::GetAccountType
  Pop $AccountType

  StrCpy $0 CurrentUser
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/AllUsers" $R1
  ${IfNot} ${Errors}
    ${If} $AccountType != "Admin"
      MessageBox MB_OK|MB_ICONSTOP "Bu bilgisayarı kullanan herkes için kurulum (/AllUsers) yönetici izni ister.$\r$\n$\r$\nKurulumu yönetici olarak çalıştırın ya da /AllUsers olmadan yalnızca kendiniz için kurun." /SD IDOK
      SetErrorLevel ${EXIT_NEEDS_ADMIN}
      Quit
    ${EndIf}
    StrCpy $0 AllUsers
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/CurrentUser" $R1
  ${IfNot} ${Errors}
    StrCpy $0 CurrentUser
  ${EndIf}
  Call UseMode
  Call CentreClosed
FunctionEnd

; Who the package is for: asked only when the setup runs with administrator rights.
Function InstallModePage
  ${If} $AccountType != "Admin"
    Abort
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "Kurulum Türü" "Paketin kimin için kurulacağını seçin."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 30u "${PRODUCT} yalnızca sizin için mi, yoksa bu bilgisayarı kullanan herkes için mi kurulsun?"
  Pop $0
  ${NSD_CreateRadioButton} 10u 40u -10u 12u "Yalnızca benim için (kullanıcı klasörüme)"
  Pop $ModePage.CurrentUser
  ${NSD_CreateRadioButton} 10u 58u -10u 12u "Bu bilgisayarı kullanan herkes için (Program Files klasörüne)"
  Pop $ModePage.AllUsers
  ${If} $Mode == AllUsers
    ${NSD_Check} $ModePage.AllUsers
  ${Else}
    ${NSD_Check} $ModePage.CurrentUser
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function InstallModePageLeave
  ${NSD_GetState} $ModePage.AllUsers $0
  ${If} $0 == ${BST_CHECKED}
    StrCpy $0 AllUsers
  ${Else}
    StrCpy $0 CurrentUser
  ${EndIf}
  Call UseMode
FunctionEnd

; Runs the uninstaller of the installation this one replaces (the uninstall entry of the same
; mode) in its own folder and waits for it: _?= keeps it from copying itself away and
; returning at once.  It removes only what that setup installed.
Function RemoveEarlierInstallation
  ReadRegStr $R0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $R0 == ""
  ${OrIfNot} ${FileExists} "$R0\${UNINSTALLER}"
    Return
  ${EndIf}
  DetailPrint "Önceki kurulum kaldırılıyor: $R0"
  ClearErrors
  ExecWait '"$R0\${UNINSTALLER}" /S _?=$R0' $R1
  ${If} ${Errors}
  ${OrIf} $R1 != 0
    ${If} $R1 == ${EXIT_CENTRE_RUNNING}
      SetErrorLevel ${EXIT_CENTRE_RUNNING}
    ${Else}
      SetErrorLevel ${EXIT_FAILED}
    ${EndIf}
    MessageBox MB_OK|MB_ICONSTOP "Önceki kurulum kaldırılamadı ($R0, çıkış kodu $R1)." /SD IDOK
    Abort "Önceki kurulum kaldırılamadı."
  ${EndIf}
  ; Run in place, the uninstaller cannot remove itself.
  Delete "$R0\${UNINSTALLER}"
  RMDir "$R0"
FunctionEnd

Section "-${PRODUCT}"
  Call CentreClosed
  Call RemoveEarlierInstallation

  SetOutPath "$INSTDIR"
  !insertmacro Z47_INSTALL_FILES
  ClearErrors
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  ${If} ${Errors}
    SetErrorLevel ${EXIT_FAILED}
    Abort "$INSTDIR\${UNINSTALLER} yazılamadı."
  ${EndIf}

  ; The shortcut starts in the package folder ($OUTDIR), with the launcher's icon.
  SetOutPath "$INSTDIR"
  CreateDirectory "$SMPROGRAMS"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${LAUNCHER}" "" "$INSTDIR\${LAUNCHER}" 0 \
    SW_SHOWNORMAL "" "${CENTRE}"

  FileOpen $0 "$INSTDIR\${UNINSTALLER}" r
  FileSeek $0 0 END $1
  FileClose $0
  IntOp $1 $1 + 1023
  IntOp $1 $1 / 1024
  IntOp $1 $1 + ${PACKAGE_SIZE_KB}
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${LAUNCHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function StartCentre
  SetOutPath "$INSTDIR"
  Exec '"$INSTDIR\${LAUNCHER}"'
FunctionEnd

Function MakeDesktopShortcut
  SetOutPath "$INSTDIR"
  CreateShortcut "$DESKTOP\${PRODUCT}.lnk" "$INSTDIR\${LAUNCHER}" "" "$INSTDIR\${LAUNCHER}" 0 \
    SW_SHOWNORMAL "" "${CENTRE}"
FunctionEnd

; --- the uninstaller -----------------------------------------------------------------------

; The uninstaller's folder is $INSTDIR.  It belongs to all users when the machine's uninstall
; entry names that folder; removing it then needs administrator rights.
Function un.onInit
  SetShellVarContext all
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    UserInfo::GetAccountType
    Pop $AccountType
    ${If} $AccountType != "Admin"
      MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} bu bilgisayarı kullanan herkes için kurulu: kaldırmak için kaldırma programını yönetici olarak çalıştırın." /SD IDOK
      SetErrorLevel ${EXIT_NEEDS_ADMIN}
      Quit
    ${EndIf}
  ${Else}
    SetShellVarContext current
  ${EndIf}
  Call un.CentreClosed
FunctionEnd

Section "Uninstall"
  Call un.CentreClosed
  !insertmacro Z47_UNINSTALL_FILES
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
  ; The shortcuts and the entry are this installation's only while the entry names its folder.
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    Delete "$DESKTOP\${PRODUCT}.lnk"
    DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  ${EndIf}
SectionEnd
