; What a deployment tool has besides the exit code: the setup's switches
; checked word by word, and one dated line per run in
; %TEMP%\quorvel-setup.log with how it ended and why. Included by
; quorvel.nsi.

!define SETUP_LOG "$TEMP\quorvel-setup.log"

; Why a run that installed ended with exit code 3; "" otherwise.
Var Warning

; Appends the outcome on the stack to the setup log, after the date and
; time. A log that cannot be written changes nothing else: the exit code
; still says how the run ended.
Function SetupLog
    Exch $0  ; the outcome
    Push $1
    Push $2
    Push $3
    Push $4
    Push $5
    Push $6
    Push $7
    ${GetTime} "" "L" $1 $2 $3 $4 $5 $6 $7
    ClearErrors
    FileOpen $4 "${SETUP_LOG}" a
    ${IfNot} ${Errors}
        FileSeek $4 0 END
        FileWrite $4 "$3-$2-$1 $5:$6:$7 quorvel-setup ${VERSION}: $0$\r$\n"
        FileClose $4
    ${EndIf}
    Pop $7
    Pop $6
    Pop $5
    Pop $4
    Pop $3
    Pop $2
    Pop $1
    Pop $0
FunctionEnd

; Ends .onInit: exit code 2, nothing installed, the reason in a box (unless
; silent) and in the log.
!macro REFUSE REASON
    MessageBox MB_ICONSTOP "${REASON}" /SD IDOK
    Push "refused (exit 2): ${REASON}"
    Call SetupLog
    SetErrorLevel 2
    Abort
!macroend

; Adds /NAME= to the switches IsSetupSwitch takes, as CommandLineWord finds
; it: in any case.
!macro VALUE_SWITCH NAME
    StrLen $1 "/${NAME}="
    StrCpy $1 $0 $1
    ${If} $1 == "/${NAME}="
        StrCpy $2 1
    ${EndIf}
!macroend

; Leaves 1 on the stack when the word on the stack is a switch the setup
; takes, 0 otherwise: a misspelt one (/PARTNR=x) would otherwise be
; ignored, and the install go on without the value.
Function IsSetupSwitch
    Exch $0  ; the word
    Push $1
    Push $2
    StrCpy $2 0
    ; NSIS's own, as its start-up code matches them: in this case only.
    ; (/D= must come last and never reaches the parameters.)
    StrCpy $1 $0 3
    ${If} $0 S== "/S"
    ${OrIf} $0 S== "/NCRC"
    ${OrIf} $1 S== "/D="
    ${OrIf} $1 S== "_?="
    ${OrIf} $0 == "/NOSTART"
        StrCpy $2 1
    ${EndIf}
    !insertmacro VALUE_SWITCH PORTAL_HOST
    !insertmacro VALUE_SWITCH PORTAL_PORT
    !insertmacro VALUE_SWITCH PORTAL_PATH
    !insertmacro VALUE_SWITCH PROXY
    !insertmacro VALUE_SWITCH PARTNER
    !insertmacro VALUE_SWITCH LOGGING
    StrCpy $0 $2
    Pop $2
    Pop $1
    Exch $0
FunctionEnd

; Each portal value given on the command line (or, for a first install,
; each one, given or defaulted) has its bit in $Given: only those go into
; an existing quorvel.ini.
Var Given
!define GIVEN_HOST 1
!define GIVEN_PORT 2
!define GIVEN_PATH 4
!define GIVEN_PROXY 8
!define GIVEN_PARTNER 16
!define GIVEN_LOGGING 32
!define GIVEN_ALL 63

; OPTION_VALUE that also notes in $Given that the value was given.
!macro PORTAL_OPTION NAME VAR BIT
    !insertmacro OPTION_VALUE "" ${NAME} ${VAR}
    ${If} $WordFound = 1
        IntOp $Given $Given | ${BIT}
    ${EndIf}
!macroend

; Adds KEY=VALUE, quoted, to $0 when BIT is in $Given.
!macro GIVEN_SETTING BIT KEY VALUE
    IntOp $1 $Given & ${BIT}
    ${If} $1 <> 0
        StrCpy $0 '$0 "${KEY}=${VALUE}"'
    ${EndIf}
!macroend

; Puts the version and the portal values into quorvel.ini with the agent's
; own code (quorvel-check --configure): each key's line replaced, every
; other line as the administrator left it.
Function WriteConfiguration
    Push $0  ; the arguments
    Push $1
    StrCpy $0 '"SOFTWARE_VERSION=${VERSION}"'
    ; By the switches' own names: quorvel-check knows the keys each sets,
    ; for this setup and the MSI package alike.
    !insertmacro GIVEN_SETTING ${GIVEN_HOST} PORTAL_HOST $PortalHost
    !insertmacro GIVEN_SETTING ${GIVEN_PORT} PORTAL_PORT $PortalPort
    !insertmacro GIVEN_SETTING ${GIVEN_PATH} PORTAL_PATH $PortalPath
    !insertmacro GIVEN_SETTING ${GIVEN_PROXY} PROXY $Proxy
    !insertmacro GIVEN_SETTING ${GIVEN_PARTNER} PARTNER $Partner
    !insertmacro GIVEN_SETTING ${GIVEN_LOGGING} LOGGING $Logging
    DetailPrint "Writing the configuration into $INSTDIR\quorvel.ini"
    nsExec::ExecToLog '"$INSTDIR\quorvel-check.exe" --configure $0'
    Pop $1
    ${If} $1 != 0
        StrCpy $Warning "quorvel.ini could not be written (quorvel-check --configure: $1)"
        MessageBox MB_ICONEXCLAMATION "$Warning" /SD IDOK
        SetErrorLevel 3
    ${EndIf}
    Pop $1
    Pop $0
FunctionEnd

Function .onInstSuccess
    Push $0
    GetErrorLevel $0
    ${If} $0 = 3
        StrCpy $0 "installed in $INSTDIR, but $Warning (exit 3)"
    ${ElseIf} $OldVersion != ""
        StrCpy $0 "upgraded from $OldVersion in $INSTDIR (exit 0)"
    ${Else}
        StrCpy $0 "installed in $INSTDIR (exit 0)"
    ${EndIf}
    Push $0
    Call SetupLog
    Pop $0
FunctionEnd

Function .onInstFailed
    Push $0
    GetErrorLevel $0
    ${If} $0 = 4
        StrCpy $0 "not installed in $INSTDIR (exit 4): $Warning"
    ${Else}
        StrCpy $0 "failed in $INSTDIR (exit 2): see the setup's details"
    ${EndIf}
    Push $0
    Call SetupLog
    Pop $0
FunctionEnd

; MUI's .onUserAbort calls it once the user has confirmed (MUI_CUSTOMFUNCTION_ABORT).
Function SetupCancelled
    Push "cancelled by the user (exit 1)"
    Call SetupLog
FunctionEnd
