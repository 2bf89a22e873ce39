; Orvalin's Windows installer: per user, without an administrator prompt,
; with the standard Modern UI pages that screen readers read.
;
; scripts/dist builds it with
;   makensis -DVERSION=1.0.0 -DSTAGE=<folder> -DOUTFILE=<file> orvalin.nsi
; where STAGE holds exactly the files of the portable zip's Orvalin folder.
;
; An upgrade never leaves a half-written installation: the new files are
; unpacked into a folder beside the old ones first, and only when all of them
; are there are the old files moved aside and the new ones renamed into place
; (renames within one folder cannot fail half-way through a file). If a
; rename fails, every file is put back as it was.

Unicode true
Target amd64-unicode

!ifndef VERSION
  !error "VERSION must be defined (see scripts/dist)"
!endif
!ifndef STAGE
  !error "STAGE must be defined (see scripts/dist)"
!endif
!ifndef OUTFILE
  !error "OUTFILE must be defined (see scripts/dist)"
!endif

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Orvalin"
!define PUBLISHER "The Orvalin developers"
; Orvalin holds this mutex for as long as it runs.
!define RUNNING_MUTEX "OrvalinRunning"
; Exit code of an installation or removal that was refused or rolled back.
!define EXIT_REFUSED 2

!include MUI2.nsh
!include LogicLib.nsh

Name "Orvalin"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Orvalin"
; An upgrade goes where the installed copy is.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma
AllowSkipFiles off
ManifestDPIAware true
BrandingText "Orvalin ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "Orvalin"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "Orvalin ${VERSION} installer"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "MIT licence, ${PUBLISHER}"

!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TEXT "This installs Orvalin ${VERSION}, which makes Kelvo usable with a screen reader, for you alone. It needs no administrator rights.$\r$\n$\r$\nIf Orvalin is already installed, it is upgraded in place; your settings are kept.$\r$\n$\r$\nPlease close Kelvo before you go on."
!define MUI_FINISHPAGE_TEXT "Orvalin ${VERSION} is installed.$\r$\n$\r$\nPut Orvalin's Kelvo plugin, orvalin.dll, in the folder plugins\generic inside the installation folder. Then start Orvalin from the Start menu folder Orvalin; it starts Kelvo."
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Open README.txt"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The installed files, relative to the installation folder. The first five
; are the portable zip's files; uninstall.exe is written by the installer.
!macro ForEachPackagedFile MACRO
  !insertmacro ${MACRO} "orvalin.exe"
  !insertmacro ${MACRO} "README.txt"
  !insertmacro ${MACRO} "keys.txt"
  !insertmacro ${MACRO} "LICENSE.txt"
  !insertmacro ${MACRO} "plugins\generic\README.txt"
!macroend
!macro ForEachFile MACRO
  !insertmacro ForEachPackagedFile ${MACRO}
  !insertmacro ${MACRO} "uninstall.exe"
!macroend

Var Staged   ; the new files, before they go into place
Var Previous ; the old files, while the new ones go into place

; Asks the user to close Kelvo while Orvalin runs, as often as they choose
; Retry. Cancel (the choice in silent mode) ends with EXIT_REFUSED.
!macro DefineRunningCheck PREFIX WHAT
Function ${PREFIX}WaitUntilOrvalinCloses
  ${Do}
    ; SYNCHRONIZE access is enough to see that the mutex exists.
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${RUNNING_MUTEX}") p.r0'
    ${If} $0 P= 0
      ${Break}
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r0)'
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Orvalin is running, so it cannot be ${WHAT} now.$\r$\n$\r$\nPlease close Kelvo first: Orvalin closes by itself when Kelvo closes. Then choose Retry.$\r$\n$\r$\nChoose Cancel to stop; nothing has been changed." /SD IDCANCEL IDRETRY continue
    SetErrorLevel ${EXIT_REFUSED}
    Quit
    continue:
  ${Loop}
FunctionEnd
!macroend
!insertmacro DefineRunningCheck "" "installed"
!insertmacro DefineRunningCheck "un." "uninstalled"

!macro StageFile FILE
  File "/oname=$Staged\${FILE}" "${STAGE}\${FILE}"
!macroend
!macro MoveAside FILE
  ${If} ${FileExists} "$INSTDIR\${FILE}"
    Rename "$INSTDIR\${FILE}" "$Previous\${FILE}"
  ${EndIf}
!macroend
!macro MoveIn FILE
  Rename "$Staged\${FILE}" "$INSTDIR\${FILE}"
!macroend
; Puts one file back as it was before this installation.
!macro PutBack FILE
  ${If} ${FileExists} "$Previous\${FILE}"
    Delete "$INSTDIR\${FILE}"
    Rename "$Previous\${FILE}" "$INSTDIR\${FILE}"
  ${ElseIf} ${FileExists} "$Staged\${FILE}"
    ; Not moved in yet: what is in place is still the old file (if any).
  ${Else}
    Delete "$INSTDIR\${FILE}"
  ${EndIf}
!macroend
; After an installation that was cut off (a power cut during the renames),
; the files that had been moved aside go back where they are missing.
!macro Recover FILE
  ${If} ${FileExists} "$Previous\${FILE}"
  ${AndIfNot} ${FileExists} "$INSTDIR\${FILE}"
    Rename "$Previous\${FILE}" "$INSTDIR\${FILE}"
  ${EndIf}
!macroend

Function .onInit
  Call WaitUntilOrvalinCloses
FunctionEnd

Function .onInstFailed
  RMDir /r "$Staged"
FunctionEnd

; Ends the installation with the old files in place, after a failure while
; unpacking (nothing moved yet) or, with PutBack first, while moving.
Function AbortUnchanged
  RMDir /r "$Staged"
  RMDir /r "$Previous"
  MessageBox MB_OK|MB_ICONSTOP "Orvalin could not be installed in $INSTDIR: a file there could not be written or replaced. Everything there is as it was before.$\r$\n$\r$\nPlease close Kelvo and any program that may use these files, or choose a folder of your own, then run the installer again." /SD IDOK
  SetErrorLevel ${EXIT_REFUSED}
  Abort
FunctionEnd

Function RollBack
  !insertmacro ForEachFile PutBack
  Call AbortUnchanged
FunctionEnd

Section "Orvalin" SecMain
  SectionIn RO
  ; The user may have started Orvalin while the pages were shown.
  Call WaitUntilOrvalinCloses

  StrCpy $Staged "$INSTDIR\.orvalin-new"
  StrCpy $Previous "$INSTDIR\.orvalin-old"
  !insertmacro ForEachFile Recover
  RMDir /r "$Previous"
  RMDir /r "$Staged"

  DetailPrint "Unpacking the files of Orvalin ${VERSION}"
  ClearErrors
  CreateDirectory "$Staged\plugins\generic"
  !insertmacro ForEachPackagedFile StageFile
  WriteUninstaller "$Staged\uninstall.exe"
  ${If} ${Errors}
    Call AbortUnchanged
  ${EndIf}

  DetailPrint "Putting the files into place"
  CreateDirectory "$Previous\plugins\generic"
  CreateDirectory "$INSTDIR\plugins\generic"
  ClearErrors
  !insertmacro ForEachFile MoveAside
  ${If} ${Errors}
    Call RollBack
  ${EndIf}
  !insertmacro ForEachFile MoveIn
  ${If} ${Errors}
    Call RollBack
  ${EndIf}
  ; A file still in use (Windows keeps a running program's file) stays in
  ; the old folder; the next installation removes it.
  RMDir /r "$Previous"
  RMDir /r "$Staged"

  SetOutPath "$INSTDIR"
  CreateDirectory "$SMPROGRAMS\Orvalin"
  CreateShortcut "$SMPROGRAMS\Orvalin\Orvalin.lnk" "$INSTDIR\orvalin.exe"
  CreateShortcut "$SMPROGRAMS\Orvalin\Orvalin settings.lnk" "$INSTDIR\orvalin.exe" "--open-settings"
  CreateShortcut "$SMPROGRAMS\Orvalin\Orvalin keys.lnk" "$INSTDIR\keys.txt"
  CreateShortcut "$SMPROGRAMS\Orvalin\Uninstall Orvalin.lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Orvalin"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\orvalin.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Function un.onInit
  Call un.WaitUntilOrvalinCloses
FunctionEnd

!macro RemoveFile FILE
  Delete "$INSTDIR\${FILE}"
!macroend

; Removes the program and the files the user was told to put beside it (the
; plugin and the screen readers' interface libraries). The settings (%APPDATA%\Orvalin) and
; the logs (%LOCALAPPDATA%\Orvalin) stay. Folders go only when empty, so
; nothing else the user keeps in the chosen folder is ever deleted.
Section "Uninstall"
  !insertmacro ForEachFile RemoveFile
  Delete "$INSTDIR\plugins\generic\orvalin.dll"
  Delete "$INSTDIR\nvdaControllerClient.dll"
  Delete "$INSTDIR\ZDSRAPI_x64.dll"
  Delete "$INSTDIR\SAAPI64.dll"
  RMDir /r "$INSTDIR\.orvalin-new"
  RMDir /r "$INSTDIR\.orvalin-old"
  RMDir "$INSTDIR\plugins\generic"
  RMDir "$INSTDIR\plugins"
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\Orvalin\Orvalin.lnk"
  Delete "$SMPROGRAMS\Orvalin\Orvalin settings.lnk"
  Delete "$SMPROGRAMS\Orvalin\Orvalin keys.lnk"
  Delete "$SMPROGRAMS\Orvalin\Uninstall Orvalin.lnk"
  RMDir "$SMPROGRAMS\Orvalin"

  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
