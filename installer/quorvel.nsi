; The Quorvel setup program. The windows build runs makensis on this script
; (target quorvel_setup) and passes, with -D:
;   VERSION        the project version, three numbers
;   AGENT_EXE      the built quorvel.exe
;   CHECK_EXE      the built quorvel-check.exe
;   RESOURCES_DIR  the folder with the five language files
;   INI_FILE       the documented quorvel.ini with its default values
;   ICON_FILE      the application icon
;   OUTFILE        the setup program to write
;
; Command line (besides NSIS's own /S for silent, /NCRC and /D=folder,
; which must come last):
;   /PORTAL_HOST=name /PORTAL_PORT=n /PORTAL_PATH=/path /PROXY=host:port
;   /PARTNER=id /LOGGING=true|false   values for quorvel.ini; an upgrade
;                                     puts the ones given into its file
;   /NOSTART                          leave the agent stopped afterwards
; A silent first install needs at least /PORTAL_HOST. Exit codes: 0 done,
; 1 cancelled, 2 refused (bad or missing values, an unknown switch, another
; setup running), 3 installed, but the data folder's or the install
; folder's rights, or quorvel.ini, could not be set, 4 a running agent could
; not be ended (nothing but quorvel-check replaced). Each run adds its
; outcome and reason to %TEMP%\quorvel-setup.log (deployment.nsh).
;
; The uninstaller takes /S and /PURGE (also remove the agent's data); it
; exits 4 when a running agent could not be ended (nothing removed), seen
; only with _?= (otherwise it returns at once, see the README).

Unicode true
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

; SIGN_COMMAND (optional, from the build): signs the file named after it.
; The uninstaller is signed here, before it is packed: setup writes it out
; as it was signed.
!ifdef SIGN_COMMAND
    !uninstfinalize '${SIGN_COMMAND} "%1"' = 0
!endif

!macro REQUIRE_DEFINE NAME
    !ifndef ${NAME}
        !error "${NAME} must be given with -D${NAME}=..."
    !endif
!macroend
!insertmacro REQUIRE_DEFINE VERSION
!insertmacro REQUIRE_DEFINE AGENT_EXE
!insertmacro REQUIRE_DEFINE CHECK_EXE
!insertmacro REQUIRE_DEFINE RESOURCES_DIR
!insertmacro REQUIRE_DEFINE INI_FILE
!insertmacro REQUIRE_DEFINE ICON_FILE
!insertmacro REQUIRE_DEFINE OUTFILE

!define PRODUCT "Quorvel"
!define PUBLISHER "Quorvel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvel"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; What the agent answers to: its window class and its Exit command.
!define AGENT_WINDOW_CLASS "Quorvel Logger Window"
!define ID_EXIT 32773
; The agent on this desktop gets 30 s (150 steps of 200 ms) to end: a hello
; or a transmission under way finishes first, bounded by its own time-outs.
!define AGENT_END_STEPS 150

!include MUI2.nsh
!include nsDialogs.nsh
!include LogicLib.nsh
!include Sections.nsh
!include FileFunc.nsh
!include WinMessages.nsh

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Quorvel"
; An upgrade goes where the last install went.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

Var PortalHost
Var PortalPort
Var PortalPath
Var Proxy
Var ProxyHost
Var ProxyPort
Var Partner
Var Logging
Var NoStart
Var Problem
Var ProblemShown
Var Purge
Var WordFound
Var WordRest
; The version an upgrade replaces, from the uninstall entry the last setup
; wrote ("" for a first install), and the texts of the pages that name it
; (languages.nsh).
Var OldVersion
Var WelcomeText
Var FinishText

; Fields of the portal page.
Var HostField
Var PortField
Var PathField
Var ProxyField
Var PartnerField
Var LoggingBox

!define MUI_ICON "${ICON_FILE}"
!define MUI_UNICON "${ICON_FILE}"
!define MUI_ABORTWARNING
!define MUI_CUSTOMFUNCTION_ABORT SetupCancelled

!define MUI_PAGE_CUSTOMFUNCTION_PRE WelcomePagePre
!define MUI_WELCOMEPAGE_TEXT "$WelcomeText"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
Page custom PortalPageCreate PortalPageLeave
!insertmacro MUI_PAGE_INSTFILES
!define MUI_PAGE_CUSTOMFUNCTION_PRE FinishPagePre
!define MUI_FINISHPAGE_TEXT "$FinishText"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

; The agent's five languages; the first is the one for any other.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "German"
!insertmacro MUI_LANGUAGE "Spanish"
!insertmacro MUI_LANGUAGE "French"
!insertmacro MUI_LANGUAGE "Italian"
!include "languages.nsh"
!include "deployment.nsh"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "(c) 2026 ${PUBLISHER}"

; ---- Shared by setup and uninstaller -------------------------------------

; Finds the command-line word that starts with the given text (in any
; case), as NSIS's own options do: sets $WordFound to 1 and $WordRest to the
; rest of that word, or $WordFound to 0. Words are separated by spaces;
; double quotes group and are dropped, so /PARTNER="acme home" works. Unlike
; FileFunc's GetOptions, a value may hold slashes: /PORTAL_PATH=/a/b.php.
; The setup's empty start finds the first word that is no switch it takes
; (IsSetupSwitch), its whole word in $WordRest.
!macro COMMAND_LINE_WORD un
Function ${un}CommandLineWord
    Exch $0  ; the start to look for
    Push $1  ; the parameters
    Push $2  ; position
    Push $3  ; character
    Push $4  ; word so far
    Push $5  ; inside quotes
    Push $6  ; length of the start
    Push $7  ; length of the parameters
    ${GetParameters} $1
    StrLen $6 $0
    StrLen $7 $1
    StrCpy $2 0
    StrCpy $4 ""
    StrCpy $5 0
    StrCpy $WordFound 0
    StrCpy $WordRest ""
    ${DoWhile} $2 <= $7
        StrCpy $3 $1 1 $2
        IntOp $2 $2 + 1
        ${If} $3 == '"'
            IntOp $5 1 - $5
        ${ElseIf} $3 != ""
        ${AndIf} $3 != " "
            StrCpy $4 "$4$3"
        ${ElseIf} $3 == " "
        ${AndIf} $5 = 1
            StrCpy $4 "$4$3"
        ${Else}
            ; A word ends here.
            StrCpy $3 $4 $6
            ${If} $WordFound = 1
            ${OrIf} $4 == ""
                ; nothing to look at
!if "${un}" == ""
            ${ElseIf} $0 == ""
                Push $4
                Call IsSetupSwitch
                Pop $3
                ${If} $3 = 0
                    StrCpy $WordRest $4
                    StrCpy $WordFound 1
                ${EndIf}
!endif
            ${ElseIf} $3 == $0
                StrCpy $WordRest $4 "" $6
                StrCpy $WordFound 1
            ${EndIf}
            StrCpy $4 ""
        ${EndIf}
    ${Loop}
    Pop $7
    Pop $6
    Pop $5
    Pop $4
    Pop $3
    Pop $2
    Pop $1
    Pop $0
FunctionEnd
!macroend
!insertmacro COMMAND_LINE_WORD ""
!insertmacro COMMAND_LINE_WORD "un."

; Sets VAR to the value of /NAME=value when it is given; leaves it alone
; otherwise.
!macro OPTION_VALUE un NAME VAR
    Push "/${NAME}="
    Call ${un}CommandLineWord
    ${If} $WordFound = 1
        StrCpy ${VAR} $WordRest
    ${EndIf}
!macroend

; Sets VAR to 1 when the word /NAME is given, to 0 otherwise.
!macro OPTION_FLAG un NAME VAR
    Push "/${NAME}"
    Call ${un}CommandLineWord
    ${If} $WordFound = 1
    ${AndIf} $WordRest == ""
        StrCpy ${VAR} 1
    ${Else}
        StrCpy ${VAR} 0
    ${EndIf}
!macroend

; The agents must be gone before their program is replaced or removed.
; First the polite way: the Exit command lets an agent leave as it does for
; the user (tray icon removed, exit code 0), but a window message reaches
; only an agent on this desktop. quorvel-check --end-agents then ends those
; still running from $INSTDIR in any session (another user's, a terminal
; server's); nothing is lost, every change of the agent's state is on disk
; already. Leaves 0 on the stack when none is left, else the reason.
!macro END_RUNNING_AGENT un
Function ${un}EndRunningAgent
    Push $0
    Push $1
    Push $2
    Push $3  ; the asked agent's process, to wait for
    StrCpy $1 0
    StrCpy $3 0
    ${Do}
        FindWindow $0 "${AGENT_WINDOW_CLASS}"
        ${If} $0 P= 0
            ${ExitDo}
        ${EndIf}
        ${If} $1 >= ${AGENT_END_STEPS}
            DetailPrint "The Quorvel agent on this desktop did not end in time."
            ${ExitDo}
        ${EndIf}
        ${If} $3 P= 0
            System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r2) i'
            ; 0x00100000: SYNCHRONIZE.
            System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i r2) p .r3'
        ${EndIf}
        ; Once at first and again every 5 s: an agent busy in a cycle takes
        ; the command when the cycle is over.
        IntOp $2 $1 % 25
        ${If} $2 = 0
            DetailPrint "Asking the running Quorvel agent to end"
            SendMessage $0 ${WM_COMMAND} ${ID_EXIT} 0 /TIMEOUT=2000
        ${EndIf}
        Sleep 200
        IntOp $1 $1 + 1
    ${Loop}
    ; Its window goes first; let it finish leaving on its own, with exit
    ; code 0, before anything still running is ended.
    ${If} $3 P<> 0
        System::Call 'kernel32::WaitForSingleObject(p r3, i 5000) i'
        System::Call 'kernel32::CloseHandle(p r3)'
    ${EndIf}
    StrCpy $0 0
!ifdef CHECK_EXE
    DetailPrint "Ending any Quorvel agent still running from $INSTDIR"
    nsExec::ExecToLog '"$INSTDIR\quorvel-check.exe" --end-agents'
    Pop $0
    ${If} $0 == "error"
        ; A damaged installation without it: what is running stays, as
        ; before, and its files go at the next restart.
        DetailPrint "quorvel-check.exe could not be started: agents in other sessions are not ended"
        StrCpy $0 0
    ${ElseIf} $0 != 0
        StrCpy $0 "A Quorvel agent still runs from $INSTDIR and could not be ended (quorvel-check --end-agents exit code $0, its lines above name the process). End it, or log off its user, and try again."
    ${EndIf}
!endif
    Pop $3
    Pop $2
    Pop $1
    Exch $0
FunctionEnd
!macroend
!insertmacro END_RUNNING_AGENT ""
!insertmacro END_RUNNING_AGENT "un."

; ---- Setup ---------------------------------------------------------------

; Sets $Problem to a sentence when the portal values cannot make a working
; quorvel.ini (in English, for the setup log; $ProblemShown in the page's
; language), and splits the proxy into $ProxyHost and $ProxyPort.
Function CheckPortalValues
    Push $0
    Push $1
    StrCpy $Problem ""
    StrCpy $ProxyHost ""
    StrCpy $ProxyPort ""
    IntOp $0 $Given & ${GIVEN_HOST}
    ${If} $0 <> 0
    ${AndIf} $PortalHost == ""
        StrCpy $Problem "The portal host is missing."
        StrCpy $ProblemShown "$(NoHost)"
    ${EndIf}
    Push $PortalPort
    Call CheckPort
    Pop $0
    ${If} $0 != 1
    ${AndIf} $Problem == ""
        StrCpy $Problem "The portal port must be a number from 1 to 65535."
        StrCpy $ProblemShown "$(BadPort)"
    ${EndIf}
    StrCpy $0 $PortalPath 1
    ${If} $0 != "/"
    ${AndIf} $Problem == ""
        StrCpy $Problem "The portal path must start with a slash."
        StrCpy $ProblemShown "$(BadPath)"
    ${EndIf}
    ; The values reach quorvel-check quoted on its command line: a quote in
    ; one would end it there and let the rest pass as words of their own.
    Push "$PortalHost$PortalPort$PortalPath$Proxy$Partner"
    Call HasQuote
    Pop $0
    ${If} $0 = 1
    ${AndIf} $Problem == ""
        StrCpy $Problem 'The portal values cannot contain a double quote (").'
        StrCpy $ProblemShown "$(QuoteInValue)"
    ${EndIf}
    ${If} $Proxy != ""
        ; host:port, split at the last colon.
        StrLen $0 $Proxy
        ${Do}
            IntOp $0 $0 - 1
            ${IfThen} $0 < 0 ${|} ${ExitDo} ${|}
            StrCpy $1 $Proxy 1 $0
        ${LoopUntil} $1 == ":"
        ${If} $0 > 0
            StrCpy $ProxyHost $Proxy $0
            IntOp $0 $0 + 1
            StrCpy $ProxyPort $Proxy "" $0
        ${EndIf}
        Push $ProxyPort
        Call CheckPort
        Pop $0
        ${If} $ProxyHost == ""
        ${OrIf} $0 != 1
            ${If} $Problem == ""
                StrCpy $Problem "The proxy must be given as host:port, the port a number from 1 to 65535."
                StrCpy $ProblemShown "$(BadProxy)"
            ${EndIf}
        ${EndIf}
    ${EndIf}
    Pop $1
    Pop $0
FunctionEnd

; Leaves 1 on the stack when the text on the stack holds a double quote.
Function HasQuote
    Exch $0
    Push $1
    Push $2
    StrCpy $2 0
    ${Do}
        StrCpy $1 $0 1 $2
        ${IfThen} $1 == "" ${|} ${ExitDo} ${|}
        ${IfThen} $1 == '"' ${|} ${ExitDo} ${|}
        IntOp $2 $2 + 1
    ${Loop}
    ${If} $1 == '"'
        StrCpy $0 1
    ${Else}
        StrCpy $0 0
    ${EndIf}
    Pop $2
    Pop $1
    Exch $0
FunctionEnd

; Leaves 1 on the stack when the text on the stack is a port number.
Function CheckPort
    Exch $0
    Push $1
    IntOp $1 $0 + 0
    ${If} "$1" == "$0"
    ${AndIf} $1 >= 1
    ${AndIf} $1 <= 65535
        StrCpy $0 1
    ${Else}
        StrCpy $0 0
    ${EndIf}
    Pop $1
    Exch $0
FunctionEnd

Function .onInit
    !insertmacro CHOOSE_LANGUAGE
    ; One setup at a time: two would fight over the same files.
    System::Call 'kernel32::CreateMutexW(p 0, i 0, w "QuorvelSetup") p .r0 ?e'
    Pop $1
    ${If} $1 = 183
        !insertmacro REFUSE "Another Quorvel setup is running."
    ${EndIf}
    Push ""
    Call CommandLineWord
    ${If} $WordFound = 1
        !insertmacro REFUSE "Unknown switch $WordRest."
    ${EndIf}
    ; The Windows Installer package's install (its UpgradeCode, in
    ; quorvel.wxs): the two would fight over the same files and entries.
    System::Call 'msi::MsiEnumRelatedProductsW(w "{6C0B7A52-3E51-4F7B-9A0E-2D1F5C8E4A31}", i 0, i 0, w .r0) i .r1'
    ${If} $1 = 0
        !insertmacro REFUSE "Quorvel is installed by its Windows Installer package. Remove it first (Apps & features, or msiexec /x), then run this setup."
    ${EndIf}

    StrCpy $PortalPort "80"
    StrCpy $PortalPath "/"
    StrCpy $Logging "false"
    StrCpy $Given 0
    !insertmacro PORTAL_OPTION PORTAL_HOST $PortalHost ${GIVEN_HOST}
    !insertmacro PORTAL_OPTION PORTAL_PORT $PortalPort ${GIVEN_PORT}
    !insertmacro PORTAL_OPTION PORTAL_PATH $PortalPath ${GIVEN_PATH}
    !insertmacro PORTAL_OPTION PROXY $Proxy ${GIVEN_PROXY}
    !insertmacro PORTAL_OPTION PARTNER $Partner ${GIVEN_PARTNER}
    !insertmacro PORTAL_OPTION LOGGING $Logging ${GIVEN_LOGGING}
    !insertmacro OPTION_FLAG "" NOSTART $NoStart
    ; The agent takes only the exact lower-case word.
    ${If} $Logging == "true"
        StrCpy $Logging "true"
    ${ElseIf} $Logging == "false"
        StrCpy $Logging "false"
    ${Else}
        !insertmacro REFUSE "/LOGGING takes true or false."
    ${EndIf}

    ; An upgrade puts only the values given into the file it finds, a
    ; first install all of them; ReadRegStr leaves "" when there is no entry.
    ReadRegStr $OldVersion HKLM "${UNINSTALL_KEY}" "DisplayVersion"
    ${IfNot} ${FileExists} "$INSTDIR\quorvel.ini"
        IntOp $Given $Given | ${GIVEN_ALL}
    ${EndIf}
    ${If} ${Silent}
        Call CheckPortalValues
        ${If} $Problem != ""
            !insertmacro REFUSE "$Problem"
        ${EndIf}
    ${EndIf}
FunctionEnd

Function PortalPageCreate
    ${If} ${FileExists} "$INSTDIR\quorvel.ini"
        Abort  ; an upgrade: the existing configuration stays
    ${EndIf}
    !insertmacro MUI_HEADER_TEXT "$(PortalTitle)" "$(PortalSubtitle)"
    nsDialogs::Create 1018
    Pop $0
    ${If} $0 == error
        Abort
    ${EndIf}
    ${NSD_CreateLabel} 0 2u 34% 12u "$(PortalHostLabel)"
    Pop $0
    ${NSD_CreateText} 36% 0 64% 12u $PortalHost
    Pop $HostField
    ${NSD_CreateLabel} 0 20u 34% 12u "$(PortalPortLabel)"
    Pop $0
    ${NSD_CreateNumber} 36% 18u 20% 12u $PortalPort
    Pop $PortField
    ${NSD_CreateLabel} 0 38u 34% 12u "$(PortalPathLabel)"
    Pop $0
    ${NSD_CreateText} 36% 36u 64% 12u $PortalPath
    Pop $PathField
    ${NSD_CreateLabel} 0 56u 34% 12u "$(ProxyLabel)"
    Pop $0
    ${NSD_CreateText} 36% 54u 64% 12u $Proxy
    Pop $ProxyField
    ${NSD_CreateLabel} 36% 68u 64% 10u "$(ProxyNote)"
    Pop $0
    ${NSD_CreateLabel} 0 84u 34% 12u "$(PartnerLabel)"
    Pop $0
    ${NSD_CreateText} 36% 82u 64% 12u $Partner
    Pop $PartnerField
    ${NSD_CreateCheckbox} 36% 102u 64% 12u "$(LoggingLabel)"
    Pop $LoggingBox
    ${If} $Logging == "true"
        ${NSD_Check} $LoggingBox
    ${EndIf}
    ${NSD_SetFocus} $HostField
    nsDialogs::Show
FunctionEnd

Function PortalPageLeave
    ${NSD_GetText} $HostField $PortalHost
    ${NSD_GetText} $PortField $PortalPort
    ${NSD_GetText} $PathField $PortalPath
    ${NSD_GetText} $ProxyField $Proxy
    ${NSD_GetText} $PartnerField $Partner
    ${NSD_GetState} $LoggingBox $0
    ${If} $0 == ${BST_CHECKED}
        StrCpy $Logging "true"
    ${Else}
        StrCpy $Logging "false"
    ${EndIf}
    Call CheckPortalValues
    ${If} $Problem != ""
        MessageBox MB_ICONEXCLAMATION $ProblemShown
        Abort  ; stay on the page
    ${EndIf}
FunctionEnd

; A file still locked after the agents were ended (one started meanwhile,
; a quorvel-check someone runs) cannot be overwritten, but it can be
; renamed; the old copy goes at the next restart.
!macro MOVE_ASIDE_IF_LOCKED FILE
    Delete "$INSTDIR\${FILE}.old"
    ${If} ${FileExists} "$INSTDIR\${FILE}"
        ClearErrors
        Delete "$INSTDIR\${FILE}"
        ${If} ${Errors}
            DetailPrint "${FILE} is in use; replacing it at the next restart"
            Rename "$INSTDIR\${FILE}" "$INSTDIR\${FILE}.old"
            Delete /REBOOTOK "$INSTDIR\${FILE}.old"
        ${EndIf}
    ${EndIf}
!macroend

Section "Quorvel" SecProgram
    SectionIn RO
    ; The Start menu, the data folder and the autostart are for every user.
    SetShellVarContext all

    SetOutPath "$INSTDIR"
!ifdef CHECK_EXE
    ; This version's quorvel-check first: the one an older version left
    ; may not know how to end the agents.
    !insertmacro MOVE_ASIDE_IF_LOCKED "quorvel-check.exe"
    File "/oname=quorvel-check.exe" "${CHECK_EXE}"
!endif
    Call EndRunningAgent
    Pop $0
    ${If} $0 != 0
        MessageBox MB_ICONSTOP $0 /SD IDOK
        StrCpy $Warning $0
        SetErrorLevel 4
        Abort
    ${EndIf}
    !insertmacro MOVE_ASIDE_IF_LOCKED "quorvel.exe"
    File "/oname=quorvel.exe" "${AGENT_EXE}"
    SetOutPath "$INSTDIR\resources"
    File "${RESOURCES_DIR}/de.txt"
    File "${RESOURCES_DIR}/en.txt"
    File "${RESOURCES_DIR}/es.txt"
    File "${RESOURCES_DIR}/fr.txt"
    File "${RESOURCES_DIR}/it.txt"
    SetOutPath "$INSTDIR"

    ; An upgrade keeps the file it finds: the version, which follows the
    ; program, and the values given go into it, every other line stays.
    ${IfNot} ${FileExists} "$INSTDIR\quorvel.ini"
        File "/oname=quorvel.ini" "${INI_FILE}"
    ${EndIf}
    Call WriteConfiguration

    WriteUninstaller "$INSTDIR\uninstall.exe"

!ifdef CHECK_EXE
    ; Outside Program Files the folder inherits its parent's rights, which
    ; may let any user replace quorvel.exe (started at every user's logon),
    ; the elevated uninstaller, or put a DLL beside them: owner
    ; Administrators, users read and execute only, wherever it is.
    DetailPrint "Securing the install folder"
    nsExec::ExecToLog '"$INSTDIR\quorvel-check.exe" --secure-install-folder "$INSTDIR"'
    Pop $0
    ${If} $0 != 0
        DetailPrint "quorvel-check --secure-install-folder failed ($0)"
        StrCpy $Warning "the rights of $INSTDIR could not be set ($0)"
        MessageBox MB_ICONEXCLAMATION "The rights of $INSTDIR could not be set ($0): other users may be able to change the program." /SD IDOK
        SetErrorLevel 3
    ${EndIf}
!endif

    ; C:\ProgramData\quorvel, where every user's agent writes quorvel.dat.
!ifdef CHECK_EXE
    ; quorvel-check makes it, or takes it over: owner Administrators, users
    ; may add and replace files but not change the folder.
    DetailPrint "Preparing the data folder"
    nsExec::ExecToLog '"$INSTDIR\quorvel-check.exe" --create-data-folder'
    Pop $0
    ${If} $0 != 0
        DetailPrint "quorvel-check --create-data-folder failed ($0)"
        StrCpy $Warning "the data folder $APPDATA\quorvel could not be prepared ($0)"
        MessageBox MB_ICONEXCLAMATION "The data folder $APPDATA\quorvel could not be prepared ($0). Run quorvel-check from the Start menu for the reason." /SD IDOK
        SetErrorLevel 3
    ${EndIf}
!else
    CreateDirectory "$APPDATA\quorvel"
!endif

    WriteRegStr HKLM "${RUN_KEY}" "Quorvel" '"$INSTDIR\quorvel.exe"'

    CreateDirectory "$SMPROGRAMS\Quorvel"
    CreateShortcut "$SMPROGRAMS\Quorvel\Quorvel.lnk" "$INSTDIR\quorvel.exe" "" \
        "$INSTDIR\quorvel.exe" 0 SW_SHOWNORMAL "" "The Quorvel portal agent"
!ifdef CHECK_EXE
    ; Through cmd, so that the window stays open for the lines to be read.
    CreateShortcut "$SMPROGRAMS\Quorvel\Quorvel check.lnk" "$SYSDIR\cmd.exe" \
        '/c ""$INSTDIR\quorvel-check.exe" & pause"' "$INSTDIR\quorvel.exe" 0 SW_SHOWNORMAL "" \
        "Checks the Quorvel configuration, portal and dongle"
!endif

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quorvel.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

    ${If} $NoStart != 1
        Call StartAgent
    ${EndIf}
SectionEnd

; Starts the agent as the logged-on user at normal integrity: started by the
; setup itself it would inherit the administrator's token until the next
; logon, and open portal pages in an elevated browser. explorer.exe given a
; program hands it to the desktop's shell, which starts it with its own
; token. As SYSTEM or in session 0 (a deployment tool) there is no user to
; start it for: an agent there would have no desktop to show, and its
; single-instance mutex, named per session, would not keep the user's own
; agent from running beside it. The Run entry starts it at the next logon.
Function StartAgent
    Push $0  ; results
    Push $1  ; session id
    Push $2  ; token
    Push $3  ; TOKEN_USER
    Push $4  ; why not, or "" to start it
    StrCpy $4 ""
    System::Call 'kernel32::GetCurrentProcessId() i .r0'
    System::Call 'kernel32::ProcessIdToSessionId(i r0, *i .r1) i .r0'
    ${If} $0 = 0
        StrCpy $4 "its session is unknown"
    ${ElseIf} $1 = 0
        StrCpy $4 "it runs in session 0"
    ${Else}
        StrCpy $4 "its user is unknown"
        System::Call 'kernel32::GetCurrentProcess() p .r0'
        ; 8: TOKEN_QUERY.
        System::Call 'advapi32::OpenProcessToken(p r0, i 8, *p .r2) i .r0'
        ${If} $0 <> 0
            ; TOKEN_USER starts with the pointer to the user's SID, which
            ; follows in the same buffer.
            System::Alloc 256
            Pop $3
            ; 1: TokenUser.
            System::Call 'advapi32::GetTokenInformation(p r2, i 1, p r3, i 256, *i .r0) i .r0'
            ${If} $0 <> 0
                System::Call '*$3(p .r0)'
                ; 22: WinLocalSystemSid, S-1-5-18.
                System::Call 'advapi32::IsWellKnownSid(p r0, i 22) i .r0'
                ${If} $0 <> 0
                    StrCpy $4 "it runs as SYSTEM"
                ${Else}
                    StrCpy $4 ""
                ${EndIf}
            ${EndIf}
            System::Free $3
            System::Call 'kernel32::CloseHandle(p r2)'
        ${EndIf}
    ${EndIf}
    ${If} $4 == ""
        DetailPrint "Starting Quorvel as the logged-on user (session $1)"
        Exec '"$WINDIR\explorer.exe" "$INSTDIR\quorvel.exe"'
    ${Else}
        DetailPrint "Not starting Quorvel now: $4, with no desktop user to start it for; it starts at the next logon"
    ${EndIf}
    Pop $4
    Pop $3
    Pop $2
    Pop $1
    Pop $0
FunctionEnd

; ---- Uninstaller ---------------------------------------------------------

Section "-un.Program"
    SetShellVarContext all
    Call un.EndRunningAgent
    Pop $0
    ${If} $0 != 0
        MessageBox MB_ICONSTOP $0 /SD IDOK
        SetErrorLevel 4
        Abort
    ${EndIf}
    DeleteRegValue HKLM "${RUN_KEY}" "Quorvel"
    Delete "$SMPROGRAMS\Quorvel\Quorvel.lnk"
    Delete "$SMPROGRAMS\Quorvel\Quorvel check.lnk"
    RMDir "$SMPROGRAMS\Quorvel"
    ; Only what setup put there: the folder may hold the user's own files.
    Delete /REBOOTOK "$INSTDIR\quorvel.exe"
    Delete /REBOOTOK "$INSTDIR\quorvel.exe.old"
    Delete /REBOOTOK "$INSTDIR\quorvel-check.exe"
    Delete /REBOOTOK "$INSTDIR\quorvel-check.exe.old"
    Delete "$INSTDIR\quorvel.ini"
    Delete "$INSTDIR\resources\de.txt"
    Delete "$INSTDIR\resources\en.txt"
    Delete "$INSTDIR\resources\es.txt"
    Delete "$INSTDIR\resources\fr.txt"
    Delete "$INSTDIR\resources\it.txt"
    RMDir "$INSTDIR\resources"
SectionEnd

; Every local user may add to the data folder, so whatever is found there
; may have been planted: RMDir /r would follow a link into any folder on the
; machine with the administrator's rights. Only the agent's two files go,
; by name; a link under either name stays as it is, neither followed nor
; removed; the folder goes only when nothing else is left in it.

; Removes the data file whose path is on the stack unless it is a link or
; is reached through one. Checked and removed through one handle, so that
; it cannot be swapped for a link in between.
Function un.DeleteDataFile
    Exch $0  ; the path
    Push $1  ; its handle
    Push $2  ; attributes, then the path the handle reached
    Push $3  ; result
    ; 0x10080: DELETE and FILE_READ_ATTRIBUTES; 7: shared for all; 3:
    ; OPEN_EXISTING; 0x200000: FILE_FLAG_OPEN_REPARSE_POINT, the link itself.
    System::Call 'kernel32::CreateFileW(w r0, i 0x10080, i 7, p 0, i 3, i 0x200000, p 0) p .r1'
    ${If} $1 P= -1
        ${If} ${FileExists} $0
            DetailPrint "Left $0: it cannot be opened"
        ${EndIf}
    ${Else}
        ; 9: FileAttributeTagInfo, the attributes in its low half; 0x400:
        ; FILE_ATTRIBUTE_REPARSE_POINT (symbolic link, junction, mount point).
        System::Call 'kernel32::GetFileInformationByHandleEx(p r1, i 9, *l .r2, i 8) i .r3'
        IntPtrOp $2 $2 & 0x400
        ${If} $3 = 0
            DetailPrint "Left $0: its attributes cannot be read"
        ${ElseIf} $2 <> 0
            DetailPrint "Left $0: it is a link"
        ${Else}
            ; Wine opens the target of a file link whatever the flag and
            ; shows it as a plain file; where the handle led tells, and also
            ; catches a folder on the way that was swapped for a junction.
            System::Call 'kernel32::GetFinalPathNameByHandleW(p r1, w .r2, i ${NSIS_MAX_STRLEN}, i 0) i .r3'
            ${If} $2 != "\\?\$0"
                DetailPrint "Left $0: it leads to $2"
            ${Else}
                ; 4: FileDispositionInfo, removed as the handle closes.
                System::Call 'kernel32::SetFileInformationByHandle(p r1, i 4, *i 1, i 1) i .r3'
                ${If} $3 = 0
                    DetailPrint "Could not remove $0"
                ${EndIf}
            ${EndIf}
        ${EndIf}
        System::Call 'kernel32::CloseHandle(p r1)'
    ${EndIf}
    Pop $3
    Pop $2
    Pop $1
    Pop $0
FunctionEnd

Section /o "un.Agent data" SecUnData
    SetShellVarContext all
    System::Call 'kernel32::GetFileAttributesW(w "$APPDATA\quorvel") i .r0'
    ${If} $0 = -1  ; INVALID_FILE_ATTRIBUTES: no folder
        Return
    ${EndIf}
    IntOp $0 $0 & 0x400
    ${If} $0 <> 0
        DetailPrint "Left $APPDATA\quorvel: it is a link"
        Return
    ${EndIf}
    Push "$APPDATA\quorvel\quorvel.dat"
    Call un.DeleteDataFile
    Push "$APPDATA\quorvel\quorvel.dat.new"
    Call un.DeleteDataFile
    Push "$APPDATA\quorvel\quorvel.lock"
    Call un.DeleteDataFile
    RMDir "$APPDATA\quorvel"
    ${If} ${FileExists} "$APPDATA\quorvel\*.*"
        DetailPrint "Left $APPDATA\quorvel: it holds files the agent did not write"
    ${EndIf}
SectionEnd

; The entry last, so that once it is gone everything else is done.
Section "-un.Entry"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
    !insertmacro MUI_DESCRIPTION_TEXT ${SecUnData} $(DESC_SecUnData)
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END

Function un.onInit
    !insertmacro CHOOSE_LANGUAGE
    !insertmacro OPTION_FLAG "un." PURGE $Purge
    ${If} $Purge = 1
        !insertmacro SelectSection ${SecUnData}
    ${EndIf}
FunctionEnd
