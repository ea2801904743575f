; Setup program of Korvane Converter, one script for both packages.
;   makensis -DARCH=x64|x86 -DFILES_DIR=<folder> -DOUT_FILE=<setup.exe> KorvaneConverter.nsi
; FILES_DIR holds the program, the filter pack and converter.ico; scripts/make-installers.sh
; stages them there from a preset's build.
;
; Silent use, for administrators:
;   setup.exe /S [/MAK=0123456789] [/D=C:\Program Files\Folder]   (/D last, unquoted, as NSIS wants)
;   Uninstall.exe /S [/FORGETKEYS]
; Exit codes: 2 the command line is refused (a /MAK= that is not 10 digits, a /D= outside
; Program Files), 4 the program or its filters are in use (in both cases nothing was changed),
; 3 the filters could not be registered, 5 installed but the key could not be stored.

Unicode true
!if "${ARCH}" == "x64"
  Target amd64-unicode
!else if "${ARCH}" == "x86"
  Target x86-unicode
!else
  !error "ARCH must be x64 or x86"
!endif

!include MUI2.nsh
!include nsDialogs.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define PRODUCT "Korvane Converter"
!define PUBLISHER "Halvenor"
!ifndef VERSION
  !error "VERSION must be given: makensis -DVERSION=a.b.c.d (scripts/make-installers.sh reads it from the build)"
!endif
!define PROGRAM_EXE "KorvaneConverter.exe"
!define FILTERS_DLL "KorvaneFilters.dll"
; The decrypting commands that TiVo front ends (kmttg, pyTivo, cTiVo) call.
!define TIVODECODE_EXE "korvane-tivodecode.exe"
!define TDCAT_EXE "korvane-tdcat.exe"
!define UNINSTALLER "Uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\KorvaneConverter"
; Where the filter pack keeps the keys it was given. Uninstall leaves them unless asked:
; a reinstall, or the other package, should not make the user look them up again.
!define KEYS_PARENT_KEY "Software\Halvenor\Korvane Filters"
!define KEYS_KEY "${KEYS_PARENT_KEY}\Media Access Keys"

Name "${PRODUCT}"
OutFile "${OUT_FILE}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ManifestSupportedOS all
BrandingText "${PRODUCT} ${VERSION}"
!if "${ARCH}" == "x64"
  !define DEFAULT_DIR "$PROGRAMFILES64\${PRODUCT}"
!else
  !define DEFAULT_DIR "$PROGRAMFILES\${PRODUCT}"
!endif
; An earlier install is upgraded where it is when that folder is protected (.onInit).
InstallDir "${DEFAULT_DIR}"

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}"

!define MUI_ICON "${FILES_DIR}\converter.ico"
!define MUI_UNICON "${FILES_DIR}\converter.ico"
!define MUI_ABORTWARNING

Var MediaAccessKey
Var KeyField
Var ForgetKeys
Var ForgetBox
Var ProtectedRoots

!define MUI_PAGE_CUSTOMFUNCTION_LEAVE DirectoryPageLeave
!insertmacro MUI_PAGE_DIRECTORY
Page custom KeyPageShow KeyPageLeave
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_FUNCTION StartProgramAsUser
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT}"
!define MUI_FINISHPAGE_RUN_NOTCHECKED
!insertmacro MUI_PAGE_FINISH

UninstPage custom un.ForgetPageShow un.ForgetPageLeave
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; Leaves 1 on the stack when the text is exactly ten digits, 0 otherwise.
!macro IS_MEDIA_ACCESS_KEY un
Function ${un}IsMediaAccessKey
  Exch $0
  Push $1
  Push $2
  StrLen $1 $0
  ${If} $1 <> 10
    StrCpy $0 0
  ${Else}
    StrCpy $2 0
    ${Do}
      StrCpy $1 $0 1 $2
      ${If} $1 S< "0"
      ${OrIf} $1 S> "9"
        StrCpy $0 0
        ${Break}
      ${EndIf}
      IntOp $2 $2 + 1
      ${If} $2 = 10
        StrCpy $0 1
        ${Break}
      ${EndIf}
    ${Loop}
  ${EndIf}
  Pop $2
  Pop $1
  Exch $0
FunctionEnd
!macroend
!insertmacro IS_MEDIA_ACCESS_KEY ""

; Leaves 1 on the stack when the folder lies inside Program Files (either of them on 64-bit
; Windows), 0 otherwise. Every process that converts or plays a recording may load the filter
; pack from the install folder, and the next setup runs its Uninstall.exe elevated: only
; Program Files keeps ordinary users from replacing those files, and setup sets no
; permissions of its own. The path is made absolute first, so that ".." cannot lead out.
!macro _FOLDER_UNDER root
  ; $1 the absolute folder; sets $0 to 1 when it lies below root ("==" ignores case, as
  ; Windows does).
  StrLen $3 "${root}\"
  StrCpy $2 $1 $3
  ${If} $2 == "${root}\"
    StrCpy $2 $1 "" $3
    ${If} $2 != ""
      StrCpy $0 1
    ${EndIf}
  ${EndIf}
!macroend
Function IsProtectedFolder
  Exch $0
  Push $1
  Push $2
  Push $3
  System::Call 'kernel32::GetFullPathNameW(w r0, i ${NSIS_MAX_STRLEN}, w .r1, p 0) i .r2'
  StrCpy $0 0
  ${If} $2 > 0
  ${AndIf} $2 < ${NSIS_MAX_STRLEN}
    !insertmacro _FOLDER_UNDER "$PROGRAMFILES64"
    !insertmacro _FOLDER_UNDER "$PROGRAMFILES32"
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Stops setup or uninstall before it changes anything while the program, or any program
; that loaded the filters, is running: Windows lets no one replace or delete those files
; then, and the install would be left half old, half new (or half removed) with success
; reported. Opening a file for writing fails exactly while it is loaded.
!macro ENSURE_FILES_FREE un
Function ${un}EnsureFilesFree
  Push $0
  Push $1
  retry:
  StrCpy $0 ""
  ${If} ${FileExists} "$INSTDIR\${PROGRAM_EXE}"
    ClearErrors
    FileOpen $1 "$INSTDIR\${PROGRAM_EXE}" a
    ${If} ${Errors}
      StrCpy $0 busy
    ${Else}
      FileClose $1
    ${EndIf}
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\${FILTERS_DLL}"
    ClearErrors
    FileOpen $1 "$INSTDIR\${FILTERS_DLL}" a
    ${If} ${Errors}
      StrCpy $0 busy
    ${Else}
      FileClose $1
    ${EndIf}
  ${EndIf}
  ${If} $0 != ""
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${PRODUCT}, or another program that uses its filters, is running. Close it, then press Retry." /SD IDCANCEL IDRETRY retry
    SetErrorLevel 4
    Abort
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd
!macroend
!insertmacro ENSURE_FILES_FREE ""
!insertmacro ENSURE_FILES_FREE "un."

!macro USE_MATCHING_REGISTRY_VIEW
  ; The filter pack's class ids and the uninstall entry belong in the registry view of the
  ; package's own bitness, where the programs that load the DLL look for them.
!if "${ARCH}" == "x64"
  SetRegView 64
!else
  SetRegView 32
!endif
!macroend

Function .onInit
  !insertmacro USE_MATCHING_REGISTRY_VIEW
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/MAK=" $MediaAccessKey
  ${IfNot} ${Errors}
  ${AndIf} $MediaAccessKey != ""
    Push $MediaAccessKey
    Call IsMediaAccessKey
    Pop $1
    ${If} $1 <> 1
      MessageBox MB_OK|MB_ICONSTOP "The Media Access Key given with /MAK= is not 10 digits. Nothing was installed." /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
  ${EndIf}

  StrCpy $ProtectedRoots "$PROGRAMFILES64"
  ${If} "$PROGRAMFILES32" != "$PROGRAMFILES64"
    StrCpy $ProtectedRoots "$PROGRAMFILES64 or $PROGRAMFILES32"
  ${EndIf}
  ; Without /D= an earlier install is upgraded where it is, unless an older setup put it
  ; outside Program Files: then the default folder is offered instead.
  ${If} $INSTDIR == "${DEFAULT_DIR}"
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    Push $0
    Call IsProtectedFolder
    Pop $1
    ${If} $1 = 1
      StrCpy $INSTDIR $0
    ${EndIf}
  ${EndIf}
  ; The folder page refuses such a folder too (DirectoryPageLeave).
  ${If} ${Silent}
    Push $INSTDIR
    Call IsProtectedFolder
    Pop $1
    ${If} $1 <> 1
      SetErrorLevel 2
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

Function DirectoryPageLeave
  Push $INSTDIR
  Call IsProtectedFolder
  Pop $0
  ${If} $0 <> 1
    MessageBox MB_OK|MB_ICONEXCLAMATION "Choose a folder inside $ProtectedRoots: every program that converts or plays a TiVo recording may load the filters of ${PRODUCT} from its folder, and only there does Windows keep other users of this computer from replacing them."
    Abort
  ${EndIf}
FunctionEnd

Function KeyPageShow
  !insertmacro MUI_HEADER_TEXT "Media Access Key" "Recordings your TiVo encrypted need its Media Access Key."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 48u "Your TiVo shows its Media Access Key, ten digits, under Settings > Account && System Information > Media Access Key. It is also listed in your online TiVo account.$\r$\n$\r$\nType it here to convert encrypted recordings. You can leave it empty: unencrypted recordings convert without it, and the key can be added later."
  Pop $0
  ${NSD_CreateLabel} 0 56u 100% 10u "&Media Access Key:"
  Pop $0
  ${NSD_CreateNumber} 0 68u 80u 12u "$MediaAccessKey"
  Pop $KeyField
  ${NSD_Edit_SetTextLimit} $KeyField 10
  nsDialogs::Show
FunctionEnd

Function KeyPageLeave
  ${NSD_GetText} $KeyField $MediaAccessKey
  ${If} $MediaAccessKey != ""
    Push $MediaAccessKey
    Call IsMediaAccessKey
    Pop $0
    ${If} $0 <> 1
      MessageBox MB_OK|MB_ICONEXCLAMATION "A Media Access Key has exactly 10 digits. Check the number your TiVo shows, or leave the field empty."
      Abort
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Korvane Converter" SecMain
  SectionIn RO
  !insertmacro USE_MATCHING_REGISTRY_VIEW
  SetShellVarContext all

  Call EnsureFilesFree
  ; An earlier install in another folder goes first, so that one copy stays registered. Its
  ; uninstaller runs elevated, so only from a protected folder: one outside Program Files, as
  ; an older setup allowed, is left alone (this install takes its registration over).
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  Push $0
  Call IsProtectedFolder
  Pop $1
  ${If} $0 == ""
  ${OrIf} $0 == $INSTDIR
    ; no earlier install, or an upgrade in place
  ${ElseIf} $1 <> 1
    DetailPrint "The earlier installation in $0 is outside Program Files: setup runs nothing from there and leaves its files to you"
  ${ElseIf} ${FileExists} "$0\${UNINSTALLER}"
    DetailPrint "Removing the earlier installation in $0"
    ExecWait '"$0\${UNINSTALLER}" /S _?=$0' $1
    ${If} $1 <> 0
      MessageBox MB_OK|MB_ICONSTOP "The earlier installation in $0 could not be removed (is ${PRODUCT} running there?). Nothing was changed." /SD IDOK
      SetErrorLevel 4
      Abort
    ${EndIf}
    Delete "$0\${UNINSTALLER}"
    RMDir "$0"
  ${EndIf}

  SetOutPath "$INSTDIR"
  SetOverwrite on
  File "${FILES_DIR}\${PROGRAM_EXE}"
  File "${FILES_DIR}\${FILTERS_DLL}"
  File "${FILES_DIR}\${TIVODECODE_EXE}"
  File "${FILES_DIR}\${TDCAT_EXE}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; Before registration, whose failure (exit code 3) is the graver one and so is set last.
  ${If} $MediaAccessKey != ""
    DetailPrint "Storing the Media Access Key"
    Call StoreMediaAccessKey
    Pop $0
    ${If} $0 < 0
      IntFmt $0 "0x%08X" $0
      MessageBox MB_OK|MB_ICONEXCLAMATION "The Media Access Key could not be stored (error $0). ${PRODUCT} asks for it when it meets a recording that needs it." /SD IDOK
      SetErrorLevel 5
    ${EndIf}
  ${EndIf}

  ClearErrors
  RegDLL "$INSTDIR\${FILTERS_DLL}"
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "The filters in $INSTDIR\${FILTERS_DLL} could not be registered, so ${PRODUCT} cannot convert. Run setup again as an administrator." /SD IDOK
    SetErrorLevel 3
  ${EndIf}

  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${PROGRAM_EXE}" "" "$INSTDIR\${PROGRAM_EXE}" 0 SW_SHOWNORMAL "" "Convert TiVo recordings into MPEG files"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "VersionMajor" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "VersionMinor" 0
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM_EXE},0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

; The filter pack keeps the key for the account setup runs as (the one that confirmed the
; administrator question), sealed for that account, through its own code loaded into setup:
; setup never writes the store itself, and the key is on no command line, which every
; program of the computer can read and auditing tools keep. Leaves the HRESULT on the stack.
Function StoreMediaAccessKey
  Push $0
  Push $1
  Push $2
  ; 8: LOAD_WITH_ALTERED_SEARCH_PATH, the DLL's own folder first for what it loads
  System::Call 'kernel32::LoadLibraryExW(w "$INSTDIR\${FILTERS_DLL}", p 0, i 8) p .r1 ?e'
  Pop $2
  ${If} $1 P= 0
    IntOp $0 $2 | 0x80070000 ; HRESULT_FROM_WIN32
  ${Else}
    System::Call 'kernel32::GetProcAddress(p r1, m "StoreMediaAccessKeyW") p .r2'
    ${If} $2 P= 0
      IntOp $0 0x7F | 0x80070000 ; ERROR_PROC_NOT_FOUND
    ${Else}
      System::Call '::$2(w "$MediaAccessKey") i .r0'
    ${EndIf}
    System::Call 'kernel32::FreeLibrary(p r1)'
  ${EndIf}
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

; Setup runs elevated, and so would a program it started itself: the first conversion would
; run elevated, as the account that confirmed setup, with that account's stored keys.
; Explorer hands the program to the signed-in user's shell, which starts it unelevated.
Function StartProgramAsUser
  Exec '"$WINDIR\explorer.exe" "$INSTDIR\${PROGRAM_EXE}"'
FunctionEnd

Function un.onInit
  !insertmacro USE_MATCHING_REGISTRY_VIEW
  ${un.GetParameters} $0
  ClearErrors
  ${un.GetOptions} $0 "/FORGETKEYS" $1
  ${If} ${Errors}
    StrCpy $ForgetKeys ${BST_UNCHECKED}
  ${Else}
    StrCpy $ForgetKeys ${BST_CHECKED}
  ${EndIf}
FunctionEnd

Function un.ForgetPageShow
  !insertmacro MUI_HEADER_TEXT "Uninstall ${PRODUCT}" "Remove ${PRODUCT} and its filters from this computer."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 40u "${PRODUCT} will be removed from $INSTDIR, with its filters and its Start menu shortcut. Your converted files stay where they are.$\r$\n$\r$\nThe Media Access Keys you stored stay too, so that a later installation can use them again."
  Pop $0
  ${NSD_CreateCheckbox} 0 48u 100% 12u "Also forget my Media Access Keys"
  Pop $ForgetBox
  ${NSD_SetState} $ForgetBox $ForgetKeys
  nsDialogs::Show
FunctionEnd

Function un.ForgetPageLeave
  ${NSD_GetState} $ForgetBox $ForgetKeys
FunctionEnd

Section "Uninstall"
  !insertmacro USE_MATCHING_REGISTRY_VIEW
  SetShellVarContext all
  Call un.EnsureFilesFree

  ; The filter pack removes only what names this DLL, so another vendor's filters under the
  ; same class ids stay registered.
  ${If} ${FileExists} "$INSTDIR\${FILTERS_DLL}"
    UnRegDLL "$INSTDIR\${FILTERS_DLL}"
  ${EndIf}
  Delete "$INSTDIR\${PROGRAM_EXE}"
  Delete "$INSTDIR\${FILTERS_DLL}"
  Delete "$INSTDIR\${TIVODECODE_EXE}"
  Delete "$INSTDIR\${TDCAT_EXE}"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Only when empty: anything else in the folder is the user's.
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ${If} $ForgetKeys == ${BST_CHECKED}
    DeleteRegKey HKCU "${KEYS_KEY}"
    DeleteRegKey /ifempty HKCU "${KEYS_PARENT_KEY}"
    DeleteRegKey /ifempty HKCU "Software\Halvenor"
  ${EndIf}
SectionEnd
