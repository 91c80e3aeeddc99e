<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
    <context>
        <name>MainWidget</name>
        <message>
            <source>Program</source>
            <translation>Programmieren</translation>
        </message>
        <message>
            <source>...</source>
            <translation>...</translation>
        </message>
        <message>
            <source>Memory</source>
            <translation>Speicher</translation>
        </message>
        <message>
            <source>Operation</source>
            <translation>Vorgang</translation>
        </message>
        <message>
            <source>Image</source>
            <translation>Abbild</translation>
        </message>
        <message>
            <source>Offset</source>
            <translation>Offset</translation>
        </message>
        <message>
            <source>Length</source>
            <translation>Länge</translation>
        </message>
        <message>
            <source>Connection</source>
            <translation>Verbindung</translation>
        </message>
        <message>
            <source>USB Serial port</source>
            <translation>Serielle USB-Schnittstelle</translation>
        </message>
        <message>
            <source>Select communication port</source>
            <translation>Kommunikationsschnittstelle wählen</translation>
        </message>
        <message>
            <source>Baudrate</source>
            <translation>Baudrate</translation>
        </message>
        <message>
            <source>Select working baudrate</source>
            <translation>Arbeits-Baudrate wählen</translation>
        </message>
        <message>
            <source>Refresh list of known ports</source>
            <translation>Liste der bekannten Schnittstellen aktualisieren</translation>
        </message>
        <message>
            <source>Refresh</source>
            <translation>Aktualisieren</translation>
        </message>
        <message>
            <source>Start options</source>
            <translation>Startoptionen</translation>
        </message>
        <message>
            <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Start the firmware update from a running firmware&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
            <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Firmware-Update aus der laufenden Firmware starten&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
        </message>
        <message>
            <source>Running firmware</source>
            <translation>Laufende Firmware</translation>
        </message>
        <message>
            <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Start the firmware update from a powered off device&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
            <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Firmware-Update an einem ausgeschalteten Gerät starten&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
        </message>
        <message>
            <source>Powered off device</source>
            <translation>Ausgeschaltetes Gerät</translation>
        </message>
        <message>
            <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Start the firmware update from a running boot monitor (LEDs error, ready, overload are blinking synchronously)&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
            <translation>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;Firmware-Update aus dem laufenden Bootmonitor starten (die LEDs Störung, Bereit und Überlast blinken gleichzeitig)&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</translation>
        </message>
        <message>
            <source>Running boot monitor</source>
            <translation>Laufender Bootmonitor</translation>
        </message>
        <message>
            <source>Info</source>
            <translation>Info</translation>
        </message>
        <message>
            <source>Progress information</source>
            <translation>Fortschritt</translation>
        </message>
        <message>
            <source>Progress step</source>
            <translation>Arbeitsschritt</translation>
        </message>
        <message>
            <source>Progress file</source>
            <translation>Datei</translation>
        </message>
        <message>
            <source>Start</source>
            <translation>Start</translation>
        </message>
        <message>
            <source>Cancel</source>
            <translation>Abbrechen</translation>
        </message>
        <message>
            <source>Add programming file</source>
            <translation>Programmierdatei hinzufügen</translation>
        </message>
        <message>
            <source>Add existing HW/SW flash file to the programming list</source>
            <translation>Vorhandene HW/SW-Flash-Datei zur Programmierliste hinzufügen</translation>
        </message>
        <message>
            <source>Add new entry</source>
            <translation>Neuen Eintrag hinzufügen</translation>
        </message>
        <message>
            <source>Add a new empty entry to the programming list</source>
            <translation>Einen neuen, leeren Eintrag zur Programmierliste hinzufügen</translation>
        </message>
        <message>
            <source>Remove selected entry</source>
            <translation>Ausgewählten Eintrag entfernen</translation>
        </message>
        <message>
            <source>Remove selected entry line from the programming action list</source>
            <translation>Ausgewählte Zeile aus der Programmierliste entfernen</translation>
        </message>
        <message>
            <source>Clear programming list</source>
            <translation>Programmierliste leeren</translation>
        </message>
        <message>
            <source>Remove all entries from the programming list</source>
            <translation>Alle Einträge aus der Programmierliste entfernen</translation>
        </message>
        <message>
            <source>DE</source>
            <translation>DE</translation>
        </message>
        <message>
            <source>Change language to german</source>
            <translation>Sprache auf Deutsch umstellen</translation>
        </message>
        <message>
            <source>EN</source>
            <translation>EN</translation>
        </message>
        <message>
            <source>Change language to english</source>
            <translation>Sprache auf Englisch umstellen</translation>
        </message>
        <message>
            <source>Programming tool AC Servo Drive V%1</source>
            <translation>Programmierwerkzeug AC-Servoantrieb V%1</translation>
        </message>
        <message>
            <source>auto</source>
            <translation>automatisch</translation>
        </message>
        <message>
            <source>Power off device, press ok and turn on device</source>
            <translation>Gerät ausschalten, OK drücken und Gerät wieder einschalten</translation>
        </message>
        <message>
            <source>Check</source>
            <translation>Prüfen</translation>
        </message>
        <message>
            <source>Please check whether the LED's Fault/Störung, Ready/Bereit, and Overload/Überlast at the front panel are flashing.</source>
            <translation>Bitte prüfen Sie, ob die LEDs Störung, Bereit und Überlast an der Frontplatte blinken.</translation>
        </message>
        <message>
            <source>Update running</source>
            <translation>Update läuft</translation>
        </message>
        <message>
            <source>An update is running. Stopping it now can leave the drive's flash half-written.
Cancel the update and close the window?</source>
            <translation>Ein Update läuft. Wird es jetzt abgebrochen, kann der Flash-Speicher des Antriebs halb beschrieben zurückbleiben.
Update abbrechen und Fenster schließen?</translation>
        </message>
        <message>
            <source>Select image file</source>
            <translation>Abbilddatei wählen</translation>
        </message>
        <message>
            <source>generic args:
</source>
            <translation>Allgemeine Argumente:
</translation>
        </message>
        <message>
            <source>-h, --help
		show this help text
</source>
            <translation>-h, --help
		diesen Hilfetext anzeigen
</translation>
        </message>
        <message>
            <source>-c PORTNUM
		Communication COM port number
</source>
            <translation>-c PORTNUM
		Nummer der COM-Schnittstelle
</translation>
        </message>
        <message>
            <source>-P IODEVICE, --port=IODEVICE
		set communication IODEVICE
</source>
            <translation>-P IODEVICE, --port=IODEVICE
		Kommunikationsgerät IODEVICE festlegen
</translation>
        </message>
        <message>
            <source>-B BOOTTYPE, --boottype=BOOTTYPE
		set &lt;off | mon[itor]&gt; boot type
</source>
            <translation>-B BOOTTYPE, --boottype=BOOTTYPE
		Startart &lt;off | mon[itor]&gt; festlegen
</translation>
        </message>
        <message>
            <source>
short form args for the most common usage:
</source>
            <translation>
Kurzformen für den häufigsten Gebrauch:
</translation>
        </message>
        <message>
            <source>-S IMAGE, --software-image=IMAGE
		set software image file for flash0
</source>
            <translation>-S IMAGE, --software-image=IMAGE
		Software-Abbilddatei für Flash0 festlegen
</translation>
        </message>
        <message>
            <source>-H IMAGE, --hardware-image=IMAGE
		set hardware image file for flash0
</source>
            <translation>-H IMAGE, --hardware-image=IMAGE
		Hardware-Abbilddatei für Flash0 festlegen
</translation>
        </message>
        <message>
            <source>-X IMAGE, --extended-image=IMAGE
		set extended image file for flash1
</source>
            <translation>-X IMAGE, --extended-image=IMAGE
		Erweiterte Abbilddatei für Flash1 festlegen
</translation>
        </message>
        <message>
            <source>
generic image programming args, must begin with -F or --function to create an entry:
</source>
            <translation>
Allgemeine Argumente zum Programmieren von Abbildern; ein Eintrag beginnt immer mit -F oder --function:
</translation>
        </message>
        <message>
            <source>-F FUNCTION, --function=FUNCTION
		set &lt;p[rog[gram]]&gt; function
</source>
            <translation>-F FUNCTION, --function=FUNCTION
		Funktion &lt;p[rog[gram]]&gt; festlegen
</translation>
        </message>
        <message>
            <source>-I IMAGE, --image=IMAGE
		set image file for programming or reading
</source>
            <translation>-I IMAGE, --image=IMAGE
		Abbilddatei zum Programmieren oder Lesen festlegen
</translation>
        </message>
        <message>
            <source>-T TYPE, --type=TYPE
		set &lt;f[lash]0 | f[lash]1&gt; device type
</source>
            <translation>-T TYPE, --type=TYPE
		Speichertyp &lt;f[lash]0 | f[lash]1&gt; festlegen
</translation>
        </message>
        <message>
            <source>
read at start-up:
-l LANGUAGE, --language=LANGUAGE
		set the language of the window, e.g. de or en
</source>
            <translation>
beim Start gelesen:
-l LANGUAGE, --language=LANGUAGE
		Sprache des Fensters festlegen, z. B. de oder en
</translation>
        </message>
        <message>
            <source>function '</source>
            <translation>Funktion '</translation>
        </message>
        <message>
            <source>type '</source>
            <translation>Typ '</translation>
        </message>
        <message>
            <source>Serial device '%1'</source>
            <translation>Serielles Gerät '%1'</translation>
        </message>
        <message>
            <source>Flash0 (HW/FW)</source>
            <translation>Flash0 (HW/FW)</translation>
        </message>
        <message>
            <source>Flash1 (SW PN)</source>
            <translation>Flash1 (SW PN)</translation>
        </message>
        <message>
            <source>Error</source>
            <translation>Fehler</translation>
        </message>
        <message>
            <source>Row %1: examine image file failed. Image file not valid.</source>
            <translation>Zeile %1: Prüfen der Abbilddatei fehlgeschlagen. Die Abbilddatei ist ungültig.</translation>
        </message>
        <message>
            <source>Select image file to flash</source>
            <translation>Abbilddatei zum Flashen wählen</translation>
        </message>
        <message>
            <source>Flash files (*.flash *.hexout *.hex)</source>
            <translation>Flash-Dateien (*.flash *.hexout *.hex)</translation>
        </message>
        <message>
            <source>S-record files (*.srec *.s19 *.s28 *.s37 *.mot)</source>
            <translation>S-Record-Dateien (*.srec *.s19 *.s28 *.s37 *.mot)</translation>
        </message>
        <message>
            <source>All files (*)</source>
            <translation>Alle Dateien (*)</translation>
        </message>
        <message>
            <source>%1: no such file</source>
            <translation>%1: Datei nicht vorhanden</translation>
        </message>
        <message>
            <source>%1: cannot be read</source>
            <translation>%1: nicht lesbar</translation>
        </message>
        <message>
            <source>%1 is not a regular file (it is a directory)</source>
            <translation>%1 ist keine gewöhnliche Datei (sondern ein Verzeichnis)</translation>
        </message>
        <message>
            <source>%1 is not a regular file (it is a FIFO or a pipe)</source>
            <translation>%1 ist keine gewöhnliche Datei (sondern ein FIFO oder eine Pipe)</translation>
        </message>
        <message>
            <source>%1 is not a regular file (it is a device)</source>
            <translation>%1 ist keine gewöhnliche Datei (sondern ein Gerät)</translation>
        </message>
        <message>
            <source>%1 is not a regular file</source>
            <translation>%1 ist keine gewöhnliche Datei</translation>
        </message>
        <message>
            <source>%1: neither an Intel HEX nor an S-record file (decided by its first four bytes)</source>
            <translation>%1: weder Intel-HEX- noch S-Record-Datei (nach ihren ersten vier Bytes)</translation>
        </message>
        <message>
            <source>%1: not enough memory</source>
            <translation>%1: nicht genug Speicher</translation>
        </message>
        <message>
            <source>%1: its data lie above 0x%2, outside the flash</source>
            <translation>%1: die Daten liegen oberhalb 0x%2, außerhalb des Flash</translation>
        </message>
        <message>
            <source>%1: the file holds no data</source>
            <translation>%1: die Datei enthält keine Daten</translation>
        </message>
        <message>
            <source>%1: the image is incomplete (%2); it is not programmed</source>
            <translation>%1: das Abbild ist unvollständig (%2); es wird nicht programmiert</translation>
        </message>
        <message>
            <source>Select file to save</source>
            <translation>Zieldatei wählen</translation>
        </message>
        <message>
            <source>Software image info:
</source>
            <translation>Software-Abbild:
</translation>
        </message>
        <message>
            <source>Flash image info:
</source>
            <translation>Inhalt des Flash:
</translation>
        </message>
        <message>
            <source>Nothing to do!</source>
            <translation>Nichts zu tun!</translation>
        </message>
        <message>
            <source>Row %1: no image file specified</source>
            <translation>Zeile %1: keine Abbilddatei angegeben</translation>
        </message>
        <message>
            <source>Confirm</source>
            <translation>Bestätigen</translation>
        </message>
        <message>
            <source>Row %1: no offset or length defined. Use full device range?</source>
            <translation>Zeile %1: Offset oder Länge fehlt. Den gesamten Speicherbereich verwenden?</translation>
        </message>
    </context>
    <context>
        <name>QObject</name>
        <message>
            <source>Canceled from user!</source>
            <translation>Vom Benutzer abgebrochen!</translation>
        </message>
    </context>
    <context>
        <name>UpdateWorker</name>
        <message>
            <source>Init boot monitor</source>
            <translation>Bootmonitor starten</translation>
        </message>
        <message>
            <source>Cannot open serial device '%1'</source>
            <translation>Serielles Gerät '%1' kann nicht geöffnet werden</translation>
        </message>
        <message>
            <source>No answer to the wake pattern within %1 ms</source>
            <translation>Keine Antwort auf das Wecksignal innerhalb von %1 ms</translation>
        </message>
        <message>
            <source>Connect</source>
            <translation>Verbinden</translation>
        </message>
        <message>
            <source>Query eeprom information</source>
            <translation>EEPROM-Informationen abfragen</translation>
        </message>
        <message>
            <source>EEPROM Info</source>
            <translation>EEPROM-Info</translation>
        </message>
        <message>
            <source>Select EEPROM device</source>
            <translation>EEPROM auswählen</translation>
        </message>
        <message>
            <source>EEPROM select device</source>
            <translation>EEPROM auswählen</translation>
        </message>
        <message>
            <source>Offset/length exceeds EEPROM address range!</source>
            <translation>Offset/Länge überschreitet den Adressbereich des EEPROM!</translation>
        </message>
        <message>
            <source>Erase EEPROM</source>
            <translation>EEPROM löschen</translation>
        </message>
        <message>
            <source>EEPROM erase</source>
            <translation>EEPROM löschen</translation>
        </message>
        <message>
            <source>Verify after erase failed!</source>
            <translation>Prüfung nach dem Löschen fehlgeschlagen!</translation>
        </message>
        <message>
            <source>Erasing EEPROM failed!</source>
            <translation>Löschen des EEPROM fehlgeschlagen!</translation>
        </message>
        <message>
            <source>Erasing EEPROM finished</source>
            <translation>Löschen des EEPROM abgeschlossen</translation>
        </message>
        <message>
            <source>EEPROM write</source>
            <translation>EEPROM schreiben</translation>
        </message>
        <message>
            <source>Examine data file</source>
            <translation>Datendatei prüfen</translation>
        </message>
        <message>
            <source>Cannot determine type of data file %1</source>
            <translation>Typ der Datendatei %1 nicht erkennbar</translation>
        </message>
        <message>
            <source>Writing EEPROM finished</source>
            <translation>Schreiben des EEPROM abgeschlossen</translation>
        </message>
        <message>
            <source>Reading data file</source>
            <translation>Datendatei lesen</translation>
        </message>
        <message>
            <source>Cannot read data file %1</source>
            <translation>Datendatei %1 kann nicht gelesen werden</translation>
        </message>
        <message>
            <source>Data file %1 holds %2 data bytes beyond the end of the EEPROM (0x%3)</source>
            <translation>Datendatei %1 enthält %2 Datenbytes hinter dem Ende des EEPROM (0x%3)</translation>
        </message>
        <message>
            <source>Data file %1 holds no data for this EEPROM range</source>
            <translation>Datendatei %1 enthält keine Daten für diesen EEPROM-Bereich</translation>
        </message>
        <message>
            <source>Image file %1 is incomplete: %2</source>
            <translation>Abbilddatei %1 ist unvollständig: %2</translation>
        </message>
        <message>
            <source>Write EEPROM</source>
            <translation>EEPROM schreiben</translation>
        </message>
        <message>
            <source>Verify after write failed!</source>
            <translation>Prüfung nach dem Schreiben fehlgeschlagen!</translation>
        </message>
        <message>
            <source>Writing EEPROM failed!</source>
            <translation>Schreiben des EEPROM fehlgeschlagen!</translation>
        </message>
        <message>
            <source>Read EEPROM</source>
            <translation>EEPROM lesen</translation>
        </message>
        <message>
            <source>EEPROM read</source>
            <translation>EEPROM lesen</translation>
        </message>
        <message>
            <source>Reading EEPROM failed!</source>
            <translation>Lesen des EEPROM fehlgeschlagen!</translation>
        </message>
        <message>
            <source>Writing to file %1 failed!</source>
            <translation>Schreiben in die Datei %1 fehlgeschlagen!</translation>
        </message>
        <message>
            <source>Reading EEPROM finished</source>
            <translation>Lesen des EEPROM abgeschlossen</translation>
        </message>
        <message>
            <source>Query flash information</source>
            <translation>Flash-Informationen abfragen</translation>
        </message>
        <message>
            <source>EPCS Info</source>
            <translation>EPCS-Info</translation>
        </message>
        <message>
            <source>Multiple regions not supported</source>
            <translation>Mehrere Regionen werden nicht unterstützt</translation>
        </message>
        <message>
            <source>Select flash device</source>
            <translation>Flash-Baustein auswählen</translation>
        </message>
        <message>
            <source>EPCS select device</source>
            <translation>EPCS-Baustein auswählen</translation>
        </message>
        <message>
            <source>Erase Flash</source>
            <translation>Flash löschen</translation>
        </message>
        <message>
            <source>Flash erase</source>
            <translation>Flash löschen</translation>
        </message>
        <message>
            <source>Offset/length exceeds flash address range!</source>
            <translation>Offset/Länge überschreitet den Adressbereich des Flash!</translation>
        </message>
        <message>
            <source>Offset and size must be a multiple of %1 (0x%2)</source>
            <translation>Offset und Größe müssen ein Vielfaches von %1 (0x%2) sein</translation>
        </message>
        <message>
            <source>Erase flash</source>
            <translation>Flash löschen</translation>
        </message>
        <message>
            <source>Erase failed!</source>
            <translation>Löschen fehlgeschlagen!</translation>
        </message>
        <message>
            <source>Erase finished</source>
            <translation>Löschen abgeschlossen</translation>
        </message>
        <message>
            <source>Transfer data block failed!</source>
            <translation>Übertragung des Datenblocks fehlgeschlagen!</translation>
        </message>
        <message>
            <source>Examine flash file</source>
            <translation>Flash-Datei prüfen</translation>
        </message>
        <message>
            <source>Cannot determine type of flash file %1</source>
            <translation>Typ der Flash-Datei %1 nicht erkennbar</translation>
        </message>
        <message>
            <source>Unsupported flash geometry: region size %1, sector size %2, page size %3</source>
            <translation>Nicht unterstützte Flash-Aufteilung: Regionsgröße %1, Sektorgröße %2, Seitengröße %3</translation>
        </message>
        <message>
            <source>Reading flash file</source>
            <translation>Flash-Datei lesen</translation>
        </message>
        <message>
            <source>Cannot read flash file %1</source>
            <translation>Flash-Datei %1 kann nicht gelesen werden</translation>
        </message>
        <message>
            <source>Flash file %1 holds data beyond the end of the flash (0x%2)</source>
            <translation>Flash-Datei %1 enthält Daten hinter dem Ende des Flash (0x%2)</translation>
        </message>
        <message>
            <source>Flash file %1 holds no data for this flash device</source>
            <translation>Flash-Datei %1 enthält keine Daten für diesen Flash-Baustein</translation>
        </message>
        <message>
            <source>Program flash</source>
            <translation>Flash programmieren</translation>
        </message>
        <message>
            <source>Update failed!</source>
            <translation>Update fehlgeschlagen!</translation>
        </message>
        <message>
            <source>Update finished</source>
            <translation>Update abgeschlossen</translation>
        </message>
        <message>
            <source>Read Flash</source>
            <translation>Flash lesen</translation>
        </message>
        <message>
            <source>Flash read</source>
            <translation>Flash lesen</translation>
        </message>
        <message>
            <source>Reading flash failed!</source>
            <translation>Lesen des Flash fehlgeschlagen!</translation>
        </message>
        <message>
            <source>Reading flash finished</source>
            <translation>Lesen des Flash abgeschlossen</translation>
        </message>
    </context>
</TS>
