// Initial (German) values, as Windows-1252 bytes.
#include "Bibliothek/Schalter/uProgramSwitchConstant.h"

std::string SRegistryBasePath = "\\Software\\TAVIK\\";
std::string SOptLabel = "     Opt: ";
std::string SDescriptionLabel = "     Beschreibung: ";
std::string SFormatError =
    "Format des Abschnittes und Parameters ist ung\xFC"
    "ltig:";
std::string SIniFileError = "Fehler w\xE4hrend der Suche der INI Datei:";
std::string SMultipleRegistration =
    "Mehrfache Registrierung des Schalters: %s ist nicht m\xF6glich!";
std::string SRegOffDescription =
    "Dieser Schalter schaltet das Auslesen aus der Registry ein oder aus.";
std::string SIniOffDescription =
    "Dieser Schalter schaltet das Auslesen aus der INI Datei ein oder aus.";
std::string SCmdOffDescription =
    "Dieser Schalter schaltet das Auslesen aus der Kommandozeile ein oder aus.";
std::string SOnOffOptions = "+, -";
std::string SOffDefault = "-";
std::string SIniPathSwitch = "INIPATH";
std::string SIniPathOptions = "c:\\win";
std::string SIniPathDescription = "Dieser Schalter setzt den Pfad der Ini Datei.";
std::string SRegPathSwitch = "REGPATH";
std::string SRegPathOptions = "\\Software\\TAVIK";
std::string SRegPathDefault = "\\Software\\TAVIK\\";
std::string SRegPathDescription = "Dieser Schalter setzt den Pfad der Registry.";
std::string SIniFileSwitch = "INIFILE";
std::string SIniFileOptions = "win32.ini";
std::string SIniFileDescription = "Dieser Schalter setzt den Namen der Ini Datei.";
std::string SWriteIniSwitch = "WRITEINI";
std::string SWriteIniOptions = "all, [Parameters], [Resources], ...";
std::string SWriteIniDefault = "kein";
std::string SWriteIniDescription =
    "Dieser Schalter aktiviert das Schreiben der registrierten Schalter in die Ini Datei. Danach "
    "terminiert sofort die Applikation.";
std::string SWriteRegSwitch = "WRITEREG";
std::string SWriteRegOptions = "all, [Parameters], [Resources], ...";
std::string SWriteRegDefault = "kein";
std::string SWriteRegDescription =
    "Dieser Schalter aktiviert das Schreiben der registrierten Schalter in die Registry. Danach "
    "terminiert sofort die Applikation.";
std::string SHelpSwitch = "?";
std::string SShowHiddenSwitch = "SHOWHIDDEN";
std::string SShowHiddenOptions = "on, off";
std::string SShowHiddenDefault = "off";
std::string SShowHiddenDescription =
    "Dieser Schalter zeigt oder versteckt die Schalter, die mit der Prozedur RegisterHidden "
    "registriert sind.";
std::string SSwitchHelpCaption = "Liste der registrierten Schalter";
std::string SErrorBoxCaption = "Fehler";
