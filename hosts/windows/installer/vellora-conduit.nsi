; The Windows installer of the Vellora conduit: installs VelloraConduit.dll
; for the current user and registers it with the HotSync manager through
; the manager's own conduit manager (CondMgr.dll), closing the manager
; first and starting it again after, as every conduit installer does.
;
; Built by `make windows-installer`:
;   makensis -DVERSION=x.y.z -DCONDUIT_DLL=... -DREADME=... -DOUTFILE=... vellora-conduit.nsi
;
; Exit statuses, /S (silent) or not:
;   0 installed (or uninstalled)
;   1 cancelled by the user
;   2 no HotSync manager for this user: nothing changed
;   3 the conduit manager refused the registration: nothing left behind
;   4 the HotSync manager is syncing, or would not close: nothing changed
;   5 a newer version is installed: nothing changed

Unicode true
RequestExecutionLevel user
SetCompressor /SOLID lzma
ManifestDPIAware true

!ifndef VERSION | CONDUIT_DLL | README | OUTFILE
  !error "define VERSION, CONDUIT_DLL, README and OUTFILE (see the top of this file)"
!endif

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh

!define CREATOR "bhV1"
!define CONDUIT_APPLICATION 1
!define PRIORITY 2
!define TITLE "Vellora"
!define DIRECTORY "Vellora"
!define PUBLISHER "Brisholm"
!define SETTINGS_KEY "Software\Brisholm\Vellora"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vellora"
!define PALM_CORE_KEY "Software\U.S. Robotics\Pilot Desktop\Core"
!define ASK_BEFORE_OVERWRITE 2
!define FONT_NAME "Times New Roman"
!define FONT_SIZE 10

; HsSetAppStatus's first argument, and the answer of a manager that syncs.
!define HS_CLOSE_APP 0
!define HS_START_APP 1
!define HOTSYNC_STATUS_SYNCING 1
; How long a closing manager is given: 30 checks, half a second apart.
!define CLOSE_CHECKS 30

!define EXIT_NO_HOTSYNC 2
!define EXIT_NOT_REGISTERED 3
!define EXIT_HOTSYNC_BUSY 4
!define EXIT_NEWER_INSTALLED 5

Name "Vellora Conduit"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Vellora"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "Vellora Conduit ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey ProductName "Vellora Conduit"
VIAddVersionKey CompanyName "${PUBLISHER}"
VIAddVersionKey FileDescription "Vellora Conduit ${VERSION} setup"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey LegalCopyright "${PUBLISHER}"

Var HotSyncDir          ; the HotSync manager's folder, holding CondMgr.dll
Var HotSyncWasRunning   ; 1 when this run closed the manager
Var Registered          ; 1 once CmInstallCreator succeeded in this run
Var Upgrade             ; 1 when an earlier VelloraConduit.dll was replaced
Var SendFolder
Var ReceiveFolder

!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TEXT "This installs the Vellora conduit for the HotSync Manager of Palm Desktop, for you alone.$\r$\n$\r$\nOn every HotSync it sends the documents of a folder (.txt, .htm, .html, .rtf, .doc) to your handheld, and brings back as files the documents you mark on the handheld.$\r$\n$\r$\nThe HotSync Manager is closed while the conduit is registered, and started again afterwards."
!define MUI_FINISHPAGE_TITLE "The Vellora conduit is installed"
!define MUI_FINISHPAGE_TEXT "Put documents to send into:$\r$\n$SendFolder$\r$\n$\r$\nDocuments you mark on the handheld arrive in:$\r$\n$ReceiveFolder$\r$\n$\r$\nBoth happen at your next HotSync."
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; --- Shared by installer and uninstaller -------------------------------

!macro HOTSYNC_FUNCTIONS UN

; Sets $HotSyncDir to the HotSync manager's folder: the folder of the
; HotSync.exe that Core's HotSyncPath names, else Core's Path, whichever
; holds CondMgr.dll; "" when neither does.
Function ${UN}FindHotSync
  Push $0
  StrCpy $HotSyncDir ""
  ReadRegStr $0 HKCU "${PALM_CORE_KEY}" "HotSyncPath"
  Push $0
  Call ${UN}CleanPath
  Pop $0
  ${If} $0 != ""
    ${If} ${FileExists} "$0\CondMgr.dll"
      StrCpy $HotSyncDir $0           ; a folder rather than the program
    ${Else}
      ${${UN}GetParent} $0 $0
      ${If} ${FileExists} "$0\CondMgr.dll"
        StrCpy $HotSyncDir $0
      ${EndIf}
    ${EndIf}
  ${EndIf}
  ${If} $HotSyncDir == ""
    ReadRegStr $0 HKCU "${PALM_CORE_KEY}" "Path"
    Push $0
    Call ${UN}CleanPath
    Pop $0
    ${If} $0 != ""
    ${AndIf} ${FileExists} "$0\CondMgr.dll"
      StrCpy $HotSyncDir $0
    ${EndIf}
  ${EndIf}
  Pop $0
FunctionEnd

; The path on the stack without surrounding quotes or a trailing backslash.
Function ${UN}CleanPath
  Exch $0
  Push $1
  StrCpy $1 $0 1
  ${If} $1 == '"'
    StrCpy $0 $0 "" 1
    StrCpy $1 $0 1 -1
    ${If} $1 == '"'
      StrCpy $0 $0 -1
    ${EndIf}
  ${EndIf}
  StrCpy $1 $0 1 -1
  ${If} $1 == "\"
    StrCpy $0 $0 -1
  ${EndIf}
  Pop $1
  Exch $0
FunctionEnd

; Closes the HotSync manager when it runs, so that it reads the new
; registration when it starts again; stops the whole run, changing
; nothing, when it is syncing or will not close. Sets $HotSyncWasRunning.
Function ${UN}CloseHotSync
  Push $0
  Push $1
  Push $2
  Push $3
  StrCpy $HotSyncWasRunning 0
  ; A missing HsApi.dll or function answers "error": nothing to close.
  System::Call '"$HotSyncDir\HsApi.dll"::HsCheckApiStatus() i .r0'
  ${If} $0 == 0
    System::Call '"$HotSyncDir\HsApi.dll"::HsGetSyncStatus(*i .r1) i .r0'
    ${If} $0 == 0
    ${AndIf} $1 == ${HOTSYNC_STATUS_SYNCING}
      MessageBox MB_ICONEXCLAMATION "The HotSync Manager is synchronising a handheld. Run this again once the HotSync has finished." /SD IDOK
      DetailPrint "The HotSync Manager is syncing: nothing was changed."
      SetErrorLevel ${EXIT_HOTSYNC_BUSY}
      Quit
    ${EndIf}
    DetailPrint "Closing the HotSync Manager"
    System::Call '"$HotSyncDir\HsApi.dll"::HsSetAppStatus(i ${HS_CLOSE_APP}, i 0) i .r2'
    ; A refused close is checked once; an accepted one is given time.
    StrCpy $3 ${CLOSE_CHECKS}
    ${IfThen} $2 != 0 ${|} StrCpy $3 1 ${|}
    ${For} $1 1 $3
      System::Call '"$HotSyncDir\HsApi.dll"::HsCheckApiStatus() i .r0'
      ${IfThen} $0 != 0 ${|} ${Break} ${|}
      Sleep 500
    ${Next}
    ${If} $0 == 0
    ${AndIf} $2 != 0
      MessageBox MB_ICONEXCLAMATION "The HotSync Manager could not be closed. Close it from its icon by the clock, then run this again." /SD IDOK
      DetailPrint "The HotSync Manager would not close: nothing was changed."
      SetErrorLevel ${EXIT_HOTSYNC_BUSY}
      Quit
    ${EndIf}
    StrCpy $HotSyncWasRunning 1
  ${EndIf}
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; Starts the HotSync manager again when this run closed it.
Function ${UN}RestartHotSync
  ${If} $HotSyncWasRunning == 1
    DetailPrint "Starting the HotSync Manager again"
    System::Call '"$HotSyncDir\HsApi.dll"::HsSetAppStatus(i ${HS_START_APP}, i 0)'
    StrCpy $HotSyncWasRunning 0
  ${EndIf}
FunctionEnd

; Removes the registration of the conduit's creator. Pushes "" when it is
; gone (or never was), else the conduit manager's answer.
Function ${UN}RemoveRegistration
  Push $0
  System::Call '"$HotSyncDir\CondMgr.dll"::CmRemoveConduitByCreatorID(m "${CREATOR}") i .r0'
  ; 1 is the real library's success, -1003 "no such conduit"; 0 is
  ; success in every other call of the library, so it is taken too.
  ${If} $0 == 1
  ${OrIf} $0 == 0
  ${OrIf} $0 == -1003
    StrCpy $0 ""
  ${EndIf}
  Exch $0
FunctionEnd

; Loads the HotSync manager's libraries from its own folder, so that
; what they load in turn is found beside them.
Function ${UN}UseHotSyncFolder
  System::Call 'kernel32::SetDllDirectoryW(w "$HotSyncDir")'
FunctionEnd

!macroend

!insertmacro HOTSYNC_FUNCTIONS ""
!insertmacro HOTSYNC_FUNCTIONS "un."

; --- Installer ----------------------------------------------------------

Function .onInit
  SetShellVarContext current
  Call FindHotSync
  ${If} $HotSyncDir == ""
    MessageBox MB_ICONSTOP "Palm Desktop's HotSync Manager is not installed for this user" /SD IDOK
    SetErrorLevel ${EXIT_NO_HOTSYNC}
    Quit
  ${EndIf}
  ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "DisplayVersion"
  ${If} $0 != ""
    ${VersionCompare} $0 "${VERSION}" $1
    ${If} $1 == 1
      MessageBox MB_ICONSTOP "Vellora Conduit $0 is installed, newer than this installer's ${VERSION}. To go back to ${VERSION}, uninstall $0 first from Apps and features." /SD IDOK
      SetErrorLevel ${EXIT_NEWER_INSTALLED}
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

; Whether the settings key holds a value named $R8: sets $R9 to 1 or 0.
; Whatever its type: a value the user set is never replaced.
Function SettingExists
  Push $R7
  Push $R6
  StrCpy $R9 0
  StrCpy $R7 0
  ${Do}
    ClearErrors
    EnumRegValue $R6 HKCU "${SETTINGS_KEY}" $R7
    ${If} ${Errors}
    ${OrIf} $R6 == ""
      ${ExitDo}
    ${EndIf}
    ${If} $R6 == $R8
      StrCpy $R9 1
      ${ExitDo}
    ${EndIf}
    IntOp $R7 $R7 + 1
  ${Loop}
  Pop $R6
  Pop $R7
FunctionEnd

!macro DEFAULT_STRING NAME VALUE
  StrCpy $R8 "${NAME}"
  Call SettingExists
  ${If} $R9 == 0
    WriteRegStr HKCU "${SETTINGS_KEY}" "${NAME}" "${VALUE}"
  ${EndIf}
!macroend

!macro DEFAULT_NUMBER NAME VALUE
  StrCpy $R8 "${NAME}"
  Call SettingExists
  ${If} $R9 == 0
    WriteRegDWORD HKCU "${SETTINGS_KEY}" "${NAME}" ${VALUE}
  ${EndIf}
!macroend

; A folder setting: when absent, the folder is made under Documents and
; named in the setting. Reads back what the setting holds into VARIABLE.
!macro DEFAULT_FOLDER NAME FOLDER VARIABLE
  StrCpy $R8 "${NAME}"
  Call SettingExists
  ${If} $R9 == 0
    CreateDirectory "${FOLDER}"
    WriteRegStr HKCU "${SETTINGS_KEY}" "${NAME}" "${FOLDER}"
  ${EndIf}
  ReadRegStr ${VARIABLE} HKCU "${SETTINGS_KEY}" "${NAME}"
!macroend

; Undoes this run: its registration, the files it wrote (an earlier
; version's library is put back), and the manager's state; then stops
; with status 3. $0 names the call that failed, $1 holds its answer.
Function UndoInstall
  DetailPrint "$0 answered $1: undoing the installation"
  ${If} $Registered == 1
    System::Call '"$HotSyncDir\CondMgr.dll"::CmRemoveConduitByCreatorID(m "${CREATOR}")'
  ${EndIf}
  Delete "$INSTDIR\VelloraConduit.dll"
  ${If} $Upgrade == 1
    Rename "$INSTDIR\VelloraConduit.dll.previous" "$INSTDIR\VelloraConduit.dll"
  ${Else}
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\Uninstall.exe"
    SetOutPath "$TEMP"  ; a folder that is the working directory cannot go
    RMDir "$INSTDIR"
  ${EndIf}
  Call RestartHotSync
  ${If} $Upgrade == 1
    ; The earlier registration was removed before the refusal came.
    MessageBox MB_ICONSTOP "The HotSync Manager's conduit manager refused to register the Vellora conduit ($0 answered $1). The earlier version's files are back, but it is no longer registered: run this installer again, or uninstall it." /SD IDOK
  ${Else}
    MessageBox MB_ICONSTOP "The HotSync Manager's conduit manager refused to register the Vellora conduit ($0 answered $1). Nothing was installed." /SD IDOK
  ${EndIf}
  SetErrorLevel ${EXIT_NOT_REGISTERED}
  Quit
FunctionEnd

!macro REGISTER FUNCTION ARGUMENTS
  System::Call '"$HotSyncDir\CondMgr.dll"::${FUNCTION}${ARGUMENTS} i .r1'
  ${If} $1 != 0
    StrCpy $0 ${FUNCTION}
    Call UndoInstall
  ${EndIf}
!macroend

Section "Vellora Conduit" SectionConduit
  SectionIn RO
  StrCpy $Registered 0
  Call CloseHotSync

  ; The files, per user; an earlier library steps aside until the new one
  ; is registered, so that a failure can put it back.
  StrCpy $Upgrade 0
  SetOutPath "$INSTDIR"
  ${If} ${FileExists} "$INSTDIR\VelloraConduit.dll"
    StrCpy $Upgrade 1
    Delete "$INSTDIR\VelloraConduit.dll.previous"
    Rename "$INSTDIR\VelloraConduit.dll" "$INSTDIR\VelloraConduit.dll.previous"
  ${EndIf}
  SetOverwrite on
  ClearErrors
  File "/oname=VelloraConduit.dll" "${CONDUIT_DLL}"
  File "/oname=README.txt" "${README}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ${If} ${Errors}
    StrCpy $0 "writing $INSTDIR"
    StrCpy $1 "an error"
    Call UndoInstall
  ${EndIf}

  ; The registration, through the manager's own conduit manager, with
  ; ANSI strings (m): that is all the library understands.
  DetailPrint "Registering the conduit for creator ${CREATOR} with the HotSync Manager"
  Call UseHotSyncFolder
  Call RemoveRegistration
  Pop $1
  ${If} $1 != ""
    StrCpy $0 "CmRemoveConduitByCreatorID"
    Call UndoInstall
  ${EndIf}
  !insertmacro REGISTER CmInstallCreator '(m "${CREATOR}", i ${CONDUIT_APPLICATION})'
  StrCpy $Registered 1
  !insertmacro REGISTER CmSetCreatorName '(m "${CREATOR}", m "$INSTDIR\VelloraConduit.dll")'
  !insertmacro REGISTER CmSetCreatorTitle '(m "${CREATOR}", m "${TITLE}")'
  !insertmacro REGISTER CmSetCreatorDirectory '(m "${CREATOR}", m "${DIRECTORY}")'
  !insertmacro REGISTER CmSetCreatorPriority '(m "${CREATOR}", i ${PRIORITY})'
  Delete "$INSTDIR\VelloraConduit.dll.previous"

  ; The settings: only those not there yet, so a reinstall or an upgrade
  ; keeps every value the user set.
  !insertmacro DEFAULT_FOLDER FolderForSFiles "$DOCUMENTS\Vellora\To handheld" $SendFolder
  !insertmacro DEFAULT_FOLDER FolderForRFiles "$DOCUMENTS\Vellora\From handheld" $ReceiveFolder
  !insertmacro DEFAULT_NUMBER FromPCToPalm ${ASK_BEFORE_OVERWRITE}
  !insertmacro DEFAULT_NUMBER FromPalmToPC ${ASK_BEFORE_OVERWRITE}
  !insertmacro DEFAULT_STRING FontName "${FONT_NAME}"
  !insertmacro DEFAULT_NUMBER FontSize ${FONT_SIZE}

  ; The entry in Apps and features.
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Vellora Conduit"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0

  Call RestartHotSync
  DetailPrint "Documents to send go into $SendFolder; received ones arrive in $ReceiveFolder."
SectionEnd

; --- Uninstaller --------------------------------------------------------

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "Uninstall"
  Call un.FindHotSync
  ${If} $HotSyncDir != ""
    Call un.CloseHotSync
    Call un.UseHotSyncFolder
    Call un.RemoveRegistration
    Pop $1
    ${If} $1 != ""
      Call un.RestartHotSync
      MessageBox MB_ICONSTOP "The HotSync Manager's conduit manager would not remove the Vellora conduit (CmRemoveConduitByCreatorID answered $1). Nothing was removed." /SD IDOK
      SetErrorLevel ${EXIT_NOT_REGISTERED}
      Quit
    ${EndIf}
    DetailPrint "The conduit is no longer registered with the HotSync Manager."
  ${Else}
    DetailPrint "No HotSync Manager is installed: there is no registration to remove."
  ${EndIf}

  Delete "$INSTDIR\VelloraConduit.dll"
  Delete "$INSTDIR\VelloraConduit.dll.previous"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\Uninstall.exe"
  SetOutPath "$TEMP"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"

  ReadRegStr $2 HKCU "${SETTINGS_KEY}" "FolderForSFiles"
  ReadRegStr $3 HKCU "${SETTINGS_KEY}" "FolderForRFiles"
  DetailPrint "Your folders and the documents in them stay: $2 and $3. The settings stay too, for a later install."
  Call un.RestartHotSync
  MessageBox MB_ICONINFORMATION "The Vellora conduit is removed.$\r$\n$\r$\nYour folders and the documents in them stay where they are:$\r$\n$2$\r$\n$3" /SD IDOK
SectionEnd
