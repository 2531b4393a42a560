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

std::string SReasonMissing = "Grund: %s gibt es nicht.";
std::string SReasonDirectory = "Grund: %s ist ein Verzeichnis.";
std::string SReasonLink = "Grund: %s ist ein symbolischer Link, dem hier nicht gefolgt wird.";
std::string SReasonFifo = "Grund: %s ist ein FIFO.";
std::string SReasonNotRegular = "Grund: %s ist keine gew\xF6hnliche Datei.";
std::string SReasonSecondName = "Grund: %s hat einen zweiten Namen (einen harten Link).";
std::string SReasonNotReadable = "Grund: %s darf nicht gelesen werden.";
std::string SReasonNotWritable = "Grund: %s ist schreibgesch\xFCtzt.";
std::string SReasonDirectoryNotWritable = "Grund: das Verzeichnis von %s ist schreibgesch\xFCtzt.";
std::string SReasonStickyDirectory =
    "Grund: %s geh\xF6rt einem anderen Benutzer, in einem Verzeichnis, in dem nur der Besitzer "
    "eine Datei ersetzen darf.";
std::string SReasonLocked =
    "Grund: %s blieb 10 Sekunden lang von einem anderen Proze\xDF gesperrt.";
std::string SReasonOtherOwner = "Grund: die Protokolldatei %s geh\xF6rt einem anderen Benutzer.";
std::string SReasonReadableByOthers =
    "Grund: die Protokolldatei %s ist f\xFCr Benutzer lesbar, die die Quelldatei nicht lesen "
    "d\xFCrfen.";
std::string SReasonDiskFull =
    "Grund: der Datentr\xE4ger ist voll; %s kann nicht geschrieben werden.";
std::string SReasonFailed = "Grund: das System verweigert das Lesen oder Schreiben von %s.";
std::string SReasonSystem = "Grund: %s";
std::string SReasonBackslash =
    "Grund: der Name %s enth\xE4lt einen Backslash, den ein Pfad dieses Programms als Trenner "
    "liest.";
std::string SReasonMarker =
    "Grund: ein //-Kommentar endet mit seiner Zeile, die Historie w\xFCrde Code; die Markierung "
    "geh\xF6rt in einen Kommentar { } oder (* *).";
std::string SReasonCodeChange =
    "Grund: der neue Text w\xFCrde sich au\xDF"
    "erhalb der Kommentare vom alten unterscheiden (ein Benutzername mit } bewirkt das).";
std::string SReasonChanged =
    "Grund: %s wurde nach dem Lesen ge\xE4ndert; bitte erneut ausf\xFChren.";
std::string SReasonTemporaryKept =
    "Grund: %s stammt nicht von einem abgebrochenen Lauf dieses Programms und bleibt daher "
    "erhalten.";
std::string SReasonOwnTemporary =
    "Grund: die Datei tr\xE4gt den Namen ihrer eigenen tempor\xE4ren Datei.";
std::string SReasonNotReplaced =
    "Grund: die tempor\xE4re Datei %s konnte die Quelldatei nicht ersetzen.";
std::string SRunWouldRefuse = "Warnung: ein Lauf w\xFCrde die Datei %s nicht bearbeiten.";

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
                            &SUnexpectedFailure,
                            &SReasonMissing,
                            &SReasonDirectory,
                            &SReasonLink,
                            &SReasonFifo,
                            &SReasonNotRegular,
                            &SReasonSecondName,
                            &SReasonNotReadable,
                            &SReasonNotWritable,
                            &SReasonDirectoryNotWritable,
                            &SReasonStickyDirectory,
                            &SReasonLocked,
                            &SReasonOtherOwner,
                            &SReasonReadableByOthers,
                            &SReasonDiskFull,
                            &SReasonFailed,
                            &SReasonSystem,
                            &SReasonBackslash,
                            &SReasonMarker,
                            &SReasonCodeChange,
                            &SReasonChanged,
                            &SReasonTemporaryKept,
                            &SReasonOwnTemporary,
                            &SReasonNotReplaced,
                            &SRunWouldRefuse}) {
    text->clear();
    text->shrink_to_fit();
  }
}
