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
; The installer's own texts are in the LangStrings below.
!define MUI_WELCOMEPAGE_TEXT "$(WelcomeText)"
!define MUI_FINISHPAGE_TEXT "$(FinishText)"
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\$(GuideFile)"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "$(OpenGuide)"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The installer speaks the user's Windows language where Orvalin has a guide
; in it, English otherwise; NSIS picks it without asking.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"
!insertmacro MUI_LANGUAGE "French"
!insertmacro MUI_LANGUAGE "Spanish"
!insertmacro MUI_LANGUAGE "PortugueseBR"
!insertmacro MUI_LANGUAGE "SimpChinese"

LangString WelcomeText ${LANG_ENGLISH} "This installs Orvalin ${VERSION}, which makes Kelvo usable with a screen reader, for you alone. It needs no administrator rights.$\r$\n$\r$\nIf Orvalin is already installed, it is upgraded in place; your settings are kept.$\r$\n$\r$\nPlease close Kelvo before you go on."
LangString WelcomeText ${LANG_GERMAN} "Hiermit wird Orvalin ${VERSION} nur für Sie installiert. Orvalin macht Kelvo mit einem Screenreader bedienbar. Administratorrechte sind nicht nötig.$\r$\n$\r$\nIst Orvalin schon installiert, wird es an derselben Stelle aktualisiert; Ihre Einstellungen bleiben erhalten.$\r$\n$\r$\nBitte schließen Sie Kelvo, bevor Sie fortfahren."
LangString WelcomeText ${LANG_FRENCH} "Ceci installe Orvalin ${VERSION}, qui rend Kelvo utilisable avec un lecteur d'écran, pour vous seul. Aucun droit d'administrateur n'est nécessaire.$\r$\n$\r$\nSi Orvalin est déjà installé, il est mis à jour sur place ; vos réglages sont conservés.$\r$\n$\r$\nVeuillez fermer Kelvo avant de continuer."
LangString WelcomeText ${LANG_SPANISH} "Esto instala Orvalin ${VERSION}, que hace Kelvo utilizable con un lector de pantalla, solo para usted. No necesita permisos de administrador.$\r$\n$\r$\nSi Orvalin ya está instalado, se actualiza en el mismo lugar; su configuración se conserva.$\r$\n$\r$\nCierre Kelvo antes de continuar."
LangString WelcomeText ${LANG_PORTUGUESEBR} "Isto instala o Orvalin ${VERSION}, que torna o Kelvo utilizável com um leitor de tela, só para você. Não precisa de direitos de administrador.$\r$\n$\r$\nSe o Orvalin já estiver instalado, ele é atualizado no mesmo lugar; suas configurações são mantidas.$\r$\n$\r$\nFeche o Kelvo antes de continuar."
LangString WelcomeText ${LANG_SIMPCHINESE} "将为您个人安装 Orvalin ${VERSION}，它让 Kelvo 可以配合读屏软件使用。不需要管理员权限。$\r$\n$\r$\n如果已经安装了 Orvalin，将在原位置升级，您的设置会保留。$\r$\n$\r$\n继续之前请先关闭 Kelvo。"

LangString FinishText ${LANG_ENGLISH} "Orvalin ${VERSION} is installed.$\r$\n$\r$\nPut Orvalin's Kelvo plugin, orvalin.dll, in the folder plugins\generic inside the installation folder. Then start Orvalin from the Start menu folder Orvalin; it starts Kelvo."
LangString FinishText ${LANG_GERMAN} "Orvalin ${VERSION} ist installiert.$\r$\n$\r$\nLegen Sie das Kelvo-Plugin von Orvalin, orvalin.dll, in den Ordner plugins\generic im Installationsordner. Starten Sie Orvalin dann über den Startmenü-Ordner Orvalin; Orvalin startet Kelvo."
LangString FinishText ${LANG_FRENCH} "Orvalin ${VERSION} est installé.$\r$\n$\r$\nPlacez le plugin Kelvo d'Orvalin, orvalin.dll, dans le dossier plugins\generic du dossier d'installation. Lancez ensuite Orvalin depuis le dossier Orvalin du menu Démarrer ; il lance Kelvo."
LangString FinishText ${LANG_SPANISH} "Orvalin ${VERSION} está instalado.$\r$\n$\r$\nPonga el plugin de Kelvo de Orvalin, orvalin.dll, en la carpeta plugins\generic dentro de la carpeta de instalación. Después inicie Orvalin desde la carpeta Orvalin del menú Inicio; Orvalin inicia Kelvo."
LangString FinishText ${LANG_PORTUGUESEBR} "O Orvalin ${VERSION} está instalado.$\r$\n$\r$\nColoque o plugin do Kelvo do Orvalin, orvalin.dll, na pasta plugins\generic dentro da pasta de instalação. Depois abra o Orvalin pela pasta Orvalin do menu Iniciar; ele abre o Kelvo."
LangString FinishText ${LANG_SIMPCHINESE} "Orvalin ${VERSION} 已安装。$\r$\n$\r$\n请把 Orvalin 的 Kelvo 插件 orvalin.dll 放进安装文件夹中的 plugins\generic 文件夹。然后从开始菜单的 Orvalin 文件夹启动 Orvalin，它会启动 Kelvo。"

; The guide and the key list in the installer's language.
LangString GuideFile ${LANG_ENGLISH} "README.txt"
LangString GuideFile ${LANG_GERMAN} "README.de.txt"
LangString GuideFile ${LANG_FRENCH} "README.fr.txt"
LangString GuideFile ${LANG_SPANISH} "README.es.txt"
LangString GuideFile ${LANG_PORTUGUESEBR} "README.pt_BR.txt"
LangString GuideFile ${LANG_SIMPCHINESE} "README.zh_CN.txt"
LangString KeysFile ${LANG_ENGLISH} "keys.txt"
LangString KeysFile ${LANG_GERMAN} "keys.de.txt"
LangString KeysFile ${LANG_FRENCH} "keys.fr.txt"
LangString KeysFile ${LANG_SPANISH} "keys.es.txt"
LangString KeysFile ${LANG_PORTUGUESEBR} "keys.pt_BR.txt"
LangString KeysFile ${LANG_SIMPCHINESE} "keys.zh_CN.txt"
LangString OpenGuide ${LANG_ENGLISH} "Open README.txt"
LangString OpenGuide ${LANG_GERMAN} "README.de.txt öffnen"
LangString OpenGuide ${LANG_FRENCH} "Ouvrir README.fr.txt"
LangString OpenGuide ${LANG_SPANISH} "Abrir README.es.txt"
LangString OpenGuide ${LANG_PORTUGUESEBR} "Abrir README.pt_BR.txt"
LangString OpenGuide ${LANG_SIMPCHINESE} "打开 README.zh_CN.txt"

LangString RunningInstall ${LANG_ENGLISH} "Orvalin is running, so it cannot be installed now.$\r$\n$\r$\nPlease close Kelvo first: Orvalin closes by itself when Kelvo closes. Then choose Retry.$\r$\n$\r$\nChoose Cancel to stop; nothing has been changed."
LangString RunningInstall ${LANG_GERMAN} "Orvalin läuft und kann deshalb jetzt nicht installiert werden.$\r$\n$\r$\nBitte schließen Sie zuerst Kelvo: Orvalin beendet sich mit Kelvo von selbst. Wählen Sie dann Wiederholen.$\r$\n$\r$\nWählen Sie Abbrechen, um aufzuhören; nichts wurde verändert."
LangString RunningInstall ${LANG_FRENCH} "Orvalin est en cours d'exécution et ne peut donc pas être installé maintenant.$\r$\n$\r$\nFermez d'abord Kelvo : Orvalin se ferme de lui-même avec Kelvo. Choisissez ensuite Réessayer.$\r$\n$\r$\nChoisissez Annuler pour arrêter ; rien n'a été modifié."
LangString RunningInstall ${LANG_SPANISH} "Orvalin se está ejecutando, así que no se puede instalar ahora.$\r$\n$\r$\nCierre primero Kelvo: Orvalin se cierra solo cuando Kelvo se cierra. Después elija Reintentar.$\r$\n$\r$\nElija Cancelar para parar; no se ha cambiado nada."
LangString RunningInstall ${LANG_PORTUGUESEBR} "O Orvalin está em execução, então não pode ser instalado agora.$\r$\n$\r$\nFeche o Kelvo primeiro: o Orvalin fecha sozinho quando o Kelvo fecha. Depois escolha Repetir.$\r$\n$\r$\nEscolha Cancelar para parar; nada foi alterado."
LangString RunningInstall ${LANG_SIMPCHINESE} "Orvalin 正在运行，现在无法安装。$\r$\n$\r$\n请先关闭 Kelvo：Kelvo 关闭时 Orvalin 会自动关闭。然后选择“重试”。$\r$\n$\r$\n选择“取消”即停止，不会做任何更改。"
LangString RunningUninstall ${LANG_ENGLISH} "Orvalin is running, so it cannot be uninstalled now.$\r$\n$\r$\nPlease close Kelvo first: Orvalin closes by itself when Kelvo closes. Then choose Retry.$\r$\n$\r$\nChoose Cancel to stop; nothing has been changed."
LangString RunningUninstall ${LANG_GERMAN} "Orvalin läuft und kann deshalb jetzt nicht deinstalliert werden.$\r$\n$\r$\nBitte schließen Sie zuerst Kelvo: Orvalin beendet sich mit Kelvo von selbst. Wählen Sie dann Wiederholen.$\r$\n$\r$\nWählen Sie Abbrechen, um aufzuhören; nichts wurde verändert."
LangString RunningUninstall ${LANG_FRENCH} "Orvalin est en cours d'exécution et ne peut donc pas être désinstallé maintenant.$\r$\n$\r$\nFermez d'abord Kelvo : Orvalin se ferme de lui-même avec Kelvo. Choisissez ensuite Réessayer.$\r$\n$\r$\nChoisissez Annuler pour arrêter ; rien n'a été modifié."
LangString RunningUninstall ${LANG_SPANISH} "Orvalin se está ejecutando, así que no se puede desinstalar ahora.$\r$\n$\r$\nCierre primero Kelvo: Orvalin se cierra solo cuando Kelvo se cierra. Después elija Reintentar.$\r$\n$\r$\nElija Cancelar para parar; no se ha cambiado nada."
LangString RunningUninstall ${LANG_PORTUGUESEBR} "O Orvalin está em execução, então não pode ser desinstalado agora.$\r$\n$\r$\nFeche o Kelvo primeiro: o Orvalin fecha sozinho quando o Kelvo fecha. Depois escolha Repetir.$\r$\n$\r$\nEscolha Cancelar para parar; nada foi alterado."
LangString RunningUninstall ${LANG_SIMPCHINESE} "Orvalin 正在运行，现在无法卸载。$\r$\n$\r$\n请先关闭 Kelvo：Kelvo 关闭时 Orvalin 会自动关闭。然后选择“重试”。$\r$\n$\r$\n选择“取消”即停止，不会做任何更改。"

; The installed files, relative to the installation folder: the portable
; zip's files; uninstall.exe is written by the installer.
!macro ForEachPackagedFile MACRO
  !insertmacro ${MACRO} "orvalin.exe"
  !insertmacro ${MACRO} "README.txt"
  !insertmacro ${MACRO} "keys.txt"
  !insertmacro ${MACRO} "LICENSE.txt"
  !insertmacro ${MACRO} "plugins\generic\README.txt"
  !insertmacro ${MACRO} "README.de.txt"
  !insertmacro ${MACRO} "README.es.txt"
  !insertmacro ${MACRO} "README.fr.txt"
  !insertmacro ${MACRO} "README.pt_BR.txt"
  !insertmacro ${MACRO} "README.zh_CN.txt"
  !insertmacro ${MACRO} "keys.de.txt"
  !insertmacro ${MACRO} "keys.es.txt"
  !insertmacro ${MACRO} "keys.fr.txt"
  !insertmacro ${MACRO} "keys.pt_BR.txt"
  !insertmacro ${MACRO} "keys.zh_CN.txt"
!macroend
!macro ForEachFile MACRO
  !insertmacro ForEachPackagedFile ${MACRO}
  !insertmacro ${MACRO} "uninstall.exe"
!macroend

Var Staged   ; the new files, before they go into place
Var Previous ; the old files, while the new ones go into place

; Asks the user to close Kelvo while Orvalin runs, as often as they choose
; Retry. Cancel (the choice in silent mode) ends with EXIT_REFUSED.
!macro DefineRunningCheck PREFIX TEXT
Function ${PREFIX}WaitUntilOrvalinCloses
  ${Do}
    ; SYNCHRONIZE access is enough to see that the mutex exists.
    System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${RUNNING_MUTEX}") p.r0'
    ${If} $0 P= 0
      ${Break}
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r0)'
    MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(${TEXT})" /SD IDCANCEL IDRETRY continue
    SetErrorLevel ${EXIT_REFUSED}
    Quit
    continue:
  ${Loop}
FunctionEnd
!macroend
!insertmacro DefineRunningCheck "" RunningInstall
!insertmacro DefineRunningCheck "un." RunningUninstall

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
  CreateShortcut "$SMPROGRAMS\Orvalin\Orvalin keys.lnk" "$INSTDIR\$(KeysFile)"
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
