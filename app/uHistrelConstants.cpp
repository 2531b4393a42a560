// Initial (German) values, as Windows-1252 bytes.
#include "app/uHistrelConstants.h"

std::string SUserOptions = "PEK";
std::string SUserDefault = "kein";
std::string SUserDescription =
    "Dieser Schalter dient um den Ben\xFCtzer des Programms zu identifizieren. Au\xDF"
    "erdem wird "
    "in Kommentaren der Schalter geschrieben.";
std::string SFileOptions = "c:\\pek\\*.pas";
std::string SFileDefault = "kein";
std::string SFileDescription =
    "Dieser Schalter setzt den Pfad und eventuell die Datei die bearbeitet werden soll.";
std::string SInsertOptions = "History";
std::string SInsertDefault = "CVSLOG";
std::string SInsertDescription =
    "Dieser Schalter dient um die Stelle in der selben Datei zu finden, wo der formatierte "
    "Kommentar dann eingef\xFCgt wird.";
std::string SRecursiveOptions = "+, -";
std::string SRecursiveDefault = "+";
std::string SRecursiveDescription =
    "Dieser Schalter schaltet das rekursive durchsuchen im Unterverzeichnissen ein oder aus.";
std::string SKeepCVSOptions = "+, -";
std::string SKeepCVSDefault = "-";
std::string SKeepCVSDescription =
    "Dieser Schalter kontrolliert, ob der einleitende Kommentar erhalten bleiben soll.";
std::string SKeepDateOptions = "+, -";
std::string SKeepDateDefault = "+";
std::string SKeepDateDescription =
    "Dieser Schalter kontrolliert, ob das Datum erhalten bleiben soll in dem ausgewerteten "
    "Kommentar.";
std::string SThreadsOptions = "0 - 64";
std::string SThreadsDefault = "0";
std::string SThreadsDescription =
    "Dieser Schalter setzt, wie viele Threads die Dateien lesen; 0 nimmt einen je Prozessorkern, "
    "h\xF6"
    "chstens 8.";
std::string SExtensionsOptions = ".pas .pp .inc";
std::string SExtensionsDefault = ".pas .pp .p .inc .dpr .lpr .dpk";
std::string SExtensionsDescription =
    "Dieser Schalter setzt, an welchen Endungen die Quellen eines nach -- genannten "
    "Verzeichnisses erkannt werden.";
std::string SPathMissing = "Der Pfad mu\xDF angegeben werden!";
std::string SUserMissing = "Der User mu\xDF angegeben werden!";
std::string SCannotAccessDirectory = "Auf das Verzeichnis %s kann nicht zugegriffen werden!";
std::string SCannotOpenDirectory =
    "Das Verzeichnis %s kann nicht ge\xF6"
    "ffnet werden; die Dateien darin und darunter wurden nicht bearbeitet!";
std::string SCannotEditFile = "Die Datei %s kann nicht bearbeitet werden!";
std::string SFileSwitchMissing = "Der Schalter FILE mu\xDF angegeben werden!";
std::string STemporaryFileExists = "Die tempor\xE4re Datei %s existiert bereits!";
std::string SSourceChanged = "Die Datei %s wurde w\xE4hrend der Bearbeitung ge\xE4ndert!";
std::string SThreadsInvalid = "Der Schalter THREADS mu\xDF eine Zahl von 0 bis 64 sein!";
std::string SBackslashNameSkipped =
    "Der Eintrag %s wird \xFC"
    "bergangen: sein Name enth\xE4lt einen Backslash.";

std::string SMarkerCannotTakeHistory =
    "Die Markierung in %s kann die Historie nicht aufnehmen: nur ein Kommentar { } oder "
    "(* *) kann sie halten!";
std::string SRewriteChangesCode =
    "Das Umschreiben von %s w\xFCrde den Code ver\xE4ndern; die Datei bleibt, wie sie ist!";
std::string SLogLocked =
    "Die Protokolldatei %s bleibt von einem anderen Proze\xDF gesperrt; nichts wurde ge\xE4ndert!";

std::string SNotEnoughMemory = "Der Speicher reicht nicht, um %s zu bearbeiten!";
std::string SNotEnoughMemoryForRun = "Der Speicher reicht f\xFCr den Lauf nicht!";
std::string SUnexpectedFailure = "Der Lauf endete mit einem unerwarteten Fehler: %s";

void FinalizeHistrelConstantsUnit() {
  for (std::string* text : {&SUserOptions,
                            &SUserDefault,
                            &SUserDescription,
                            &SFileOptions,
                            &SFileDefault,
                            &SFileDescription,
                            &SInsertOptions,
                            &SInsertDefault,
                            &SInsertDescription,
                            &SRecursiveOptions,
                            &SRecursiveDefault,
                            &SRecursiveDescription,
                            &SKeepCVSOptions,
                            &SKeepCVSDefault,
                            &SKeepCVSDescription,
                            &SKeepDateOptions,
                            &SKeepDateDefault,
                            &SKeepDateDescription,
                            &SThreadsOptions,
                            &SThreadsDefault,
                            &SThreadsDescription,
                            &SThreadsInvalid,
                            &SExtensionsOptions,
                            &SExtensionsDefault,
                            &SExtensionsDescription,
                            &SPathMissing,
                            &SUserMissing,
                            &SCannotAccessDirectory,
                            &SCannotEditFile,
                            &SFileSwitchMissing,
                            &STemporaryFileExists,
                            &SSourceChanged,
                            &SBackslashNameSkipped,
                            &SMarkerCannotTakeHistory,
                            &SRewriteChangesCode,
                            &SCannotOpenDirectory,
                            &SLogLocked,
                            &SNotEnoughMemory,
                            &SNotEnoughMemoryForRun,
                            &SUnexpectedFailure}) {
    text->clear();
    text->shrink_to_fit();
  }
}
