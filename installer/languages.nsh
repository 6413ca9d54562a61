; The setup's own texts in the agent's five languages, and the choice of
; language. Included by quorvel.nsi after its MUI_LANGUAGE lines; UTF-8 with
; a byte-order mark, which makensis needs to read it as UTF-8.

; Picks the pages' language as the agent picks its language file: the
; system's language by its English name, compared exactly, English for any
; other. Sets $LANGUAGE, which the pages follow once .onInit returns.
!macro CHOOSE_LANGUAGE
    Push $0
    ; 0x800: LOCALE_SYSTEM_DEFAULT; 0x1001: LOCALE_SENGLANGUAGE.
    System::Call 'kernel32::GetLocaleInfoW(i 0x800, i 0x1001, w .r0, i ${NSIS_MAX_STRLEN}) i'
    ${If} $0 S== "German"
        StrCpy $LANGUAGE ${LANG_GERMAN}
    ${ElseIf} $0 S== "Spanish"
        StrCpy $LANGUAGE ${LANG_SPANISH}
    ${ElseIf} $0 S== "French"
        StrCpy $LANGUAGE ${LANG_FRENCH}
    ${ElseIf} $0 S== "Italian"
        StrCpy $LANGUAGE ${LANG_ITALIAN}
    ${Else}
        StrCpy $LANGUAGE ${LANG_ENGLISH}
    ${EndIf}
    Pop $0
!macroend

; The welcome and finish pages' texts: set before each page is made, when
; $(...) already reads the chosen language.
Function WelcomePagePre
    ${If} $OldVersion == ""
        StrCpy $WelcomeText "$(WelcomeNew)"
    ${Else}
        StrCpy $WelcomeText "$(WelcomeUpgrade)"
    ${EndIf}
FunctionEnd

Function FinishPagePre
    ${If} $OldVersion == ""
        StrCpy $FinishText "$(FinishNew)$\r$\n$\r$\n$(FinishTray)"
    ${Else}
        StrCpy $FinishText "$(FinishUpgrade)$\r$\n$\r$\n$(FinishTray)"
    ${EndIf}
FunctionEnd

LangString WelcomeNew ${LANG_ENGLISH} "This setup installs Quorvel ${VERSION}, the portal agent, for every user of this computer.$\r$\n$\r$\nClick Next to continue."
LangString WelcomeNew ${LANG_GERMAN} "Dieses Setup installiert Quorvel ${VERSION}, den Portal-Agenten, für alle Benutzer dieses Computers.$\r$\n$\r$\nKlicken Sie auf Weiter, um fortzufahren."
LangString WelcomeNew ${LANG_SPANISH} "Este programa instala Quorvel ${VERSION}, el agente del portal, para todos los usuarios de este equipo.$\r$\n$\r$\nHaga clic en Siguiente para continuar."
LangString WelcomeNew ${LANG_FRENCH} "Ce programme installe Quorvel ${VERSION}, l'agent du portail, pour tous les utilisateurs de cet ordinateur.$\r$\n$\r$\nCliquez sur Suivant pour continuer."
LangString WelcomeNew ${LANG_ITALIAN} "Questo programma installa Quorvel ${VERSION}, l'agente del portale, per tutti gli utenti di questo computer.$\r$\n$\r$\nFare clic su Avanti per continuare."

LangString WelcomeUpgrade ${LANG_ENGLISH} "This setup installs Quorvel ${VERSION}, upgrading from $OldVersion. The settings in quorvel.ini and the agent's data are kept.$\r$\n$\r$\nClick Next to continue."
LangString WelcomeUpgrade ${LANG_GERMAN} "Dieses Setup installiert Quorvel ${VERSION} als Aktualisierung von $OldVersion. Die Einstellungen in quorvel.ini und die Daten des Agenten bleiben erhalten.$\r$\n$\r$\nKlicken Sie auf Weiter, um fortzufahren."
LangString WelcomeUpgrade ${LANG_SPANISH} "Este programa instala Quorvel ${VERSION}, actualizando desde $OldVersion. La configuración de quorvel.ini y los datos del agente se conservan.$\r$\n$\r$\nHaga clic en Siguiente para continuar."
LangString WelcomeUpgrade ${LANG_FRENCH} "Ce programme installe Quorvel ${VERSION}, en mise à jour de $OldVersion. Les réglages de quorvel.ini et les données de l'agent sont conservés.$\r$\n$\r$\nCliquez sur Suivant pour continuer."
LangString WelcomeUpgrade ${LANG_ITALIAN} "Questo programma installa Quorvel ${VERSION}, aggiornando dalla versione $OldVersion. Le impostazioni in quorvel.ini e i dati dell'agente vengono mantenuti.$\r$\n$\r$\nFare clic su Avanti per continuare."

LangString FinishNew ${LANG_ENGLISH} "Quorvel ${VERSION} is installed."
LangString FinishNew ${LANG_GERMAN} "Quorvel ${VERSION} ist installiert."
LangString FinishNew ${LANG_SPANISH} "Quorvel ${VERSION} está instalado."
LangString FinishNew ${LANG_FRENCH} "Quorvel ${VERSION} est installé."
LangString FinishNew ${LANG_ITALIAN} "Quorvel ${VERSION} è installato."

LangString FinishUpgrade ${LANG_ENGLISH} "Quorvel has been upgraded from $OldVersion to ${VERSION}."
LangString FinishUpgrade ${LANG_GERMAN} "Quorvel wurde von $OldVersion auf ${VERSION} aktualisiert."
LangString FinishUpgrade ${LANG_SPANISH} "Quorvel se ha actualizado de $OldVersion a ${VERSION}."
LangString FinishUpgrade ${LANG_FRENCH} "Quorvel a été mis à jour de $OldVersion vers ${VERSION}."
LangString FinishUpgrade ${LANG_ITALIAN} "Quorvel è stato aggiornato dalla versione $OldVersion alla ${VERSION}."

LangString FinishTray ${LANG_ENGLISH} "The agent shows itself as an icon in the notification area at the right of the taskbar. Right-click the icon for its menu: Open Portal, About Quorvel, Exit."
LangString FinishTray ${LANG_GERMAN} "Der Agent zeigt sich als Symbol im Infobereich rechts in der Taskleiste. Ein Rechtsklick auf das Symbol öffnet sein Menü: Portal öffnen, Über Quorvel, Beenden."
LangString FinishTray ${LANG_SPANISH} "El agente se muestra como un icono en el área de notificación, a la derecha de la barra de tareas. Haga clic derecho en el icono para abrir su menú: Abrir portal, Acerca de Quorvel, Salir."
LangString FinishTray ${LANG_FRENCH} "L'agent apparaît sous forme d'icône dans la zone de notification, à droite de la barre des tâches. Un clic droit sur l'icône ouvre son menu : Ouvrir le portail, À propos de Quorvel, Quitter."
LangString FinishTray ${LANG_ITALIAN} "L'agente appare come icona nell'area di notifica, a destra della barra delle applicazioni. Fare clic con il tasto destro sull'icona per il suo menu: Apri portale, Informazioni su Quorvel, Esci."

LangString DESC_SecUnData ${LANG_ENGLISH} "Also remove C:\ProgramData\quorvel with the agent's state: the next install starts as on a new machine."
LangString DESC_SecUnData ${LANG_GERMAN} "Auch C:\ProgramData\quorvel mit dem Zustand des Agenten entfernen: die nächste Installation beginnt wie auf einem neuen Computer."
LangString DESC_SecUnData ${LANG_SPANISH} "Eliminar también C:\ProgramData\quorvel con el estado del agente: la próxima instalación empieza como en un equipo nuevo."
LangString DESC_SecUnData ${LANG_FRENCH} "Supprimer aussi C:\ProgramData\quorvel avec l'état de l'agent : la prochaine installation démarre comme sur un nouvel ordinateur."
LangString DESC_SecUnData ${LANG_ITALIAN} "Rimuovere anche C:\ProgramData\quorvel con lo stato dell'agente: la prossima installazione parte come su un computer nuovo."

; The portal page.
LangString PortalTitle ${LANG_ENGLISH} "Portal"
LangString PortalTitle ${LANG_GERMAN} "Portal"
LangString PortalTitle ${LANG_SPANISH} "Portal"
LangString PortalTitle ${LANG_FRENCH} "Portail"
LangString PortalTitle ${LANG_ITALIAN} "Portale"

LangString PortalSubtitle ${LANG_ENGLISH} "Where the agent reaches its portal. The values go into quorvel.ini."
LangString PortalSubtitle ${LANG_GERMAN} "Wo der Agent sein Portal erreicht. Die Werte kommen in quorvel.ini."
LangString PortalSubtitle ${LANG_SPANISH} "Dónde encuentra el agente su portal. Los valores se guardan en quorvel.ini."
LangString PortalSubtitle ${LANG_FRENCH} "Où l'agent joint son portail. Les valeurs sont écrites dans quorvel.ini."
LangString PortalSubtitle ${LANG_ITALIAN} "Dove l'agente raggiunge il suo portale. I valori vanno in quorvel.ini."

LangString PortalHostLabel ${LANG_ENGLISH} "Portal host:"
LangString PortalHostLabel ${LANG_GERMAN} "Portal-Host:"
LangString PortalHostLabel ${LANG_SPANISH} "Host del portal:"
LangString PortalHostLabel ${LANG_FRENCH} "Hôte du portail :"
LangString PortalHostLabel ${LANG_ITALIAN} "Host del portale:"

LangString PortalPortLabel ${LANG_ENGLISH} "Port:"
LangString PortalPortLabel ${LANG_GERMAN} "Port:"
LangString PortalPortLabel ${LANG_SPANISH} "Puerto:"
LangString PortalPortLabel ${LANG_FRENCH} "Port :"
LangString PortalPortLabel ${LANG_ITALIAN} "Porta:"

LangString PortalPathLabel ${LANG_ENGLISH} "Path:"
LangString PortalPathLabel ${LANG_GERMAN} "Pfad:"
LangString PortalPathLabel ${LANG_SPANISH} "Ruta:"
LangString PortalPathLabel ${LANG_FRENCH} "Chemin :"
LangString PortalPathLabel ${LANG_ITALIAN} "Percorso:"

LangString ProxyLabel ${LANG_ENGLISH} "Proxy (host:port):"
LangString ProxyLabel ${LANG_GERMAN} "Proxy (Host:Port):"
LangString ProxyLabel ${LANG_SPANISH} "Proxy (host:puerto):"
LangString ProxyLabel ${LANG_FRENCH} "Proxy (hôte:port) :"
LangString ProxyLabel ${LANG_ITALIAN} "Proxy (host:porta):"

LangString ProxyNote ${LANG_ENGLISH} "Empty for a direct connection."
LangString ProxyNote ${LANG_GERMAN} "Leer für eine direkte Verbindung."
LangString ProxyNote ${LANG_SPANISH} "Vacío para una conexión directa."
LangString ProxyNote ${LANG_FRENCH} "Vide pour une connexion directe."
LangString ProxyNote ${LANG_ITALIAN} "Vuoto per una connessione diretta."

LangString PartnerLabel ${LANG_ENGLISH} "Partner:"
LangString PartnerLabel ${LANG_GERMAN} "Partner:"
LangString PartnerLabel ${LANG_SPANISH} "Socio:"
LangString PartnerLabel ${LANG_FRENCH} "Partenaire :"
LangString PartnerLabel ${LANG_ITALIAN} "Partner:"

LangString LoggingLabel ${LANG_ENGLISH} "Show the log window"
LangString LoggingLabel ${LANG_GERMAN} "Protokollfenster anzeigen"
LangString LoggingLabel ${LANG_SPANISH} "Mostrar la ventana de registro"
LangString LoggingLabel ${LANG_FRENCH} "Afficher la fenêtre du journal"
LangString LoggingLabel ${LANG_ITALIAN} "Mostrare la finestra del registro"

; What the portal page says of a value that cannot work.
LangString NoHost ${LANG_ENGLISH} "The portal host is missing."
LangString NoHost ${LANG_GERMAN} "Der Portal-Host fehlt."
LangString NoHost ${LANG_SPANISH} "Falta el host del portal."
LangString NoHost ${LANG_FRENCH} "L'hôte du portail manque."
LangString NoHost ${LANG_ITALIAN} "Manca l'host del portale."

LangString BadPort ${LANG_ENGLISH} "The portal port must be a number from 1 to 65535."
LangString BadPort ${LANG_GERMAN} "Der Port des Portals muss eine Zahl von 1 bis 65535 sein."
LangString BadPort ${LANG_SPANISH} "El puerto del portal debe ser un número de 1 a 65535."
LangString BadPort ${LANG_FRENCH} "Le port du portail doit être un nombre de 1 à 65535."
LangString BadPort ${LANG_ITALIAN} "La porta del portale deve essere un numero da 1 a 65535."

LangString BadPath ${LANG_ENGLISH} "The portal path must start with a slash."
LangString BadPath ${LANG_GERMAN} "Der Pfad des Portals muss mit einem Schrägstrich beginnen."
LangString BadPath ${LANG_SPANISH} "La ruta del portal debe empezar por una barra (/)."
LangString BadPath ${LANG_FRENCH} "Le chemin du portail doit commencer par une barre oblique."
LangString BadPath ${LANG_ITALIAN} "Il percorso del portale deve iniziare con una barra."
LangString QuoteInValue ${LANG_ENGLISH} 'The portal values cannot contain a double quote (").'
LangString QuoteInValue ${LANG_GERMAN} 'Die Angaben zum Portal dürfen kein Anführungszeichen (") enthalten.'
LangString QuoteInValue ${LANG_SPANISH} 'Los datos del portal no pueden contener comillas (").'
LangString QuoteInValue ${LANG_FRENCH} 'Les valeurs du portail ne peuvent pas contenir de guillemet (").'
LangString QuoteInValue ${LANG_ITALIAN} 'I valori del portale non possono contenere virgolette (").'

LangString BadProxy ${LANG_ENGLISH} "The proxy must be given as host:port, the port a number from 1 to 65535."
LangString BadProxy ${LANG_GERMAN} "Der Proxy muss als Host:Port angegeben werden, der Port eine Zahl von 1 bis 65535."
LangString BadProxy ${LANG_SPANISH} "El proxy debe indicarse como host:puerto, con un puerto de 1 a 65535."
LangString BadProxy ${LANG_FRENCH} "Le proxy doit être donné sous la forme hôte:port, le port étant un nombre de 1 à 65535."
LangString BadProxy ${LANG_ITALIAN} "Il proxy deve essere indicato come host:porta, con una porta da 1 a 65535."
