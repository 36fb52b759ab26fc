<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU" sourcelanguage="en">
<context>
    <name>Kbx</name>
    <message>
        <source>unknown option %1</source>
        <translation>неизвестный параметр %1</translation>
    </message>
    <message>
        <source>option --%1 takes no value</source>
        <translation>параметр --%1 не принимает значения</translation>
    </message>
    <message>
        <source>option --%1 needs a value</source>
        <translation>параметру --%1 нужно значение</translation>
    </message>
    <message>
        <source>unknown option -%1</source>
        <translation>неизвестный параметр -%1</translation>
    </message>
    <message>
        <source>option -%1 needs a value</source>
        <translation>параметру -%1 нужно значение</translation>
    </message>
    <message>
        <source>%1: cannot use this path: it is not valid text in the system&apos;s encoding</source>
        <translation>%1: этот путь нельзя использовать: он не является текстом в кодировке системы</translation>
    </message>
    <message>
        <source>%1: cannot create folder: %2</source>
        <translation>%1: не удалось создать папку: %2</translation>
    </message>
    <message>
        <source>%1: cannot open folder: %2</source>
        <translation>%1: не удалось открыть папку: %2</translation>
    </message>
    <message>
        <source>%1: %2: no matching entry</source>
        <translation>%1: %2: нет подходящих записей</translation>
    </message>
    <message>
        <source>%1 B</source>
        <translation>%1 Б</translation>
    </message>
    <message>
        <source>%1 KiB</source>
        <translation>%1 КиБ</translation>
    </message>
    <message>
        <source>%1 MiB</source>
        <translation>%1 МиБ</translation>
    </message>
    <message>
        <source>extract</source>
        <translation>извлечение</translation>
    </message>
    <message>
        <source>unpack</source>
        <translation>распаковка</translation>
    </message>
    <message>
        <source>data (offset %1, size %2) outside the file of %3 bytes</source>
        <translation>данные (смещение %1, размер %2) за пределами файла длиной %3 байт</translation>
    </message>
    <message>
        <source>data overlaps the directory</source>
        <translation>данные перекрывают каталог</translation>
    </message>
    <message>
        <source>data overlaps entry %1</source>
        <translation>данные перекрывают запись %1</translation>
    </message>
    <message>
        <source>same name as entry %1</source>
        <translation>то же имя, что у записи %1</translation>
    </message>
    <message>
        <source>entry %1 needs this name as a folder</source>
        <translation>папка с этим именем нужна записи %1</translation>
    </message>
    <message>
        <source>Usage: kbx verify ARCHIVE [--json] [-v]
Checks the header and directory, that every entry lies inside the file,
that every name is safe to write, and that no data overlaps and no name
repeats. Prints one line per problem; exit status 1 when there are some.

      --json     print a JSON document
  -v, --verbose  also report an archive without problems
  -h, --help     show this help
</source>
        <translation>Использование: kbx verify АРХИВ [--json] [-v]
Проверяет заголовок и каталог, что каждая запись лежит внутри файла, что
каждое имя безопасно для записи, что данные не перекрываются и имена не
повторяются. Печатает по строке на ошибку; код выхода 1, если они есть.

      --json     документ JSON
  -v, --verbose  сообщить и об архиве без ошибок
  -h, --help     эта справка
</translation>
    </message>
    <message>
        <source>Try &apos;kbx --help&apos; for more information.</source>
        <translation>Подробнее: «kbx --help».</translation>
    </message>
    <message>
        <source>Try &apos;kbx %1 --help&apos; for more information.</source>
        <translation>Подробнее: «kbx %1 --help».</translation>
    </message>
    <message>
        <source>missing archive</source>
        <translation>не указан архив</translation>
    </message>
    <message>
        <source>missing folder ROOT</source>
        <translation>не указана папка КОРЕНЬ</translation>
    </message>
    <message>
        <source>missing pattern</source>
        <translation>не указан шаблон</translation>
    </message>
    <message>
        <source>missing NAME and FILE</source>
        <translation>не указаны ИМЯ и ФАЙЛ</translation>
    </message>
    <message>
        <source>unexpected argument %1</source>
        <translation>лишний аргумент %1</translation>
    </message>
    <message>
        <source>FILE missing after the last NAME</source>
        <translation>после последнего аргумента ИМЯ не указан ФАЙЛ</translation>
    </message>
    <message>
        <source>missing -o ARCHIVE</source>
        <translation>не указан -o АРХИВ</translation>
    </message>
    <message>
        <source>--keep-old-files and --skip-old-files exclude each other</source>
        <translation>--keep-old-files и --skip-old-files исключают друг друга</translation>
    </message>
    <message>
        <source>-O and -C exclude each other</source>
        <translation>-O и -C исключают друг друга</translation>
    </message>
    <message>
        <source>missing command</source>
        <translation>не указана команда</translation>
    </message>
    <message>
        <source>unknown command %1</source>
        <translation>неизвестная команда %1</translation>
    </message>
    <message>
        <source>cannot write to standard output: %1</source>
        <translation>не удалось записать в стандартный вывод: %1</translation>
    </message>
    <message>
        <source>  -C, --directory DIR  write into DIR (default: the current folder),
                       created when missing
  -k, --keep-old-files fail on a file that already exists
      --skip-old-files leave an existing file as it is and go on
  -v, --verbose        print each entry&apos;s name and the time taken
  -h, --help           show this help

An existing file is replaced whole by default: it is never seen half written.
</source>
        <translation>  -C, --directory ПАПКА  писать в папку ПАПКА (по умолчанию — текущая);
                         она создаётся, если её нет
  -k, --keep-old-files   ошибка, если файл уже существует
      --skip-old-files   оставить существующий файл как есть и продолжить
  -v, --verbose          печатать имя каждой записи и затраченное время
  -h, --help             эта справка

Существующий файл по умолчанию заменяется целиком: наполовину записанным
его не увидеть.
</translation>
    </message>
    <message>
        <source>Usage: kbx extract ARCHIVE PATTERN... [-C DIR] [-O] [-k | --skip-old-files] [-v]
Writes the entries that match beneath DIR under their own names.

  -O, --to-stdout      write the entries&apos; bytes to standard output
</source>
        <translation>Использование: kbx extract АРХИВ ШАБЛОН... [-C ПАПКА] [-O] [-k | --skip-old-files] [-v]
Записывает подходящие записи в папку ПАПКА под их собственными именами.

  -O, --to-stdout        выдать байты записей в стандартный вывод
</translation>
    </message>
    <message>
        <source>Usage: kbx unpack ARCHIVE [-C DIR] [-k | --skip-old-files] [-v]
Writes every entry beneath DIR, creating Version/ and Version/Data/ there.

</source>
        <translation>Использование: kbx unpack АРХИВ [-C ПАПКА] [-k | --skip-old-files] [-v]
Записывает все записи в папку ПАПКА, создавая в ней Version/ и Version/Data/.

</translation>
    </message>
    <message>
        <source>pack</source>
        <translation>упаковка</translation>
    </message>
    <message>
        <source>%1: %2: no such entry</source>
        <translation>%1: %2: нет такой записи</translation>
    </message>
    <message>
        <source>replace</source>
        <translation>замена</translation>
    </message>
    <message>
        <source>add</source>
        <translation>добавление</translation>
    </message>
    <message>
        <source>remove</source>
        <translation>удаление</translation>
    </message>
    <message>
        <source>%1: %2: names several entries: %3</source>
        <translation>%1: %2: так называются несколько записей: %3</translation>
    </message>
    <message>
        <source>%1: waiting for another process editing this archive</source>
        <translation>%1: ожидание другого процесса, который меняет этот архив</translation>
    </message>
    <message>
        <source>A PATTERN is an entry&apos;s name as &apos;list&apos; prints it, with &apos;/&apos; or &apos;\&apos; between
folders and letter case ignored. A PATTERN that is an entry&apos;s name selects
that entry only (of the entries whose names differ only in letter case, the
one typed exactly); any other is a pattern: &apos;*&apos; and &apos;?&apos; match within one
folder or file name, &apos;[...]&apos; one of the characters, &apos;**&apos; any number of
folders (&apos;[[]&apos; is a literal &apos;[&apos; that makes a name a pattern). A folder&apos;s
name selects everything in it. A pattern that matches nothing is an error.
</source>
        <translation>ШАБЛОН — имя записи, как его печатает «list», с «/» или «\» между папками,
регистр букв не важен. ШАБЛОН, совпадающий с именем записи, выбирает только
эту запись (из записей, чьи имена различаются лишь регистром, — набранную
точно); любой другой — шаблон: «*» и «?» соответствуют символам в пределах
одного имени папки или файла, «[...]» — одному из символов, «**» — любому
числу папок («[[]» — буквальная «[», которая делает имя шаблоном). Имя папки
выбирает всё, что в ней. Шаблон, которому ничего не подошло, — ошибка.
</translation>
    </message>
    <message>
        <source>compact</source>
        <translation>сжатие</translation>
    </message>
    <message>
        <source>Usage: kbx replace ARCHIVE NAME FILE [NAME FILE...] [-i] [-v]
Gives each entry NAME the contents of FILE; the entry keeps its place and name.
The new archive replaces the old one only when it is complete.

</source>
        <translation>Использование: kbx replace АРХИВ ИМЯ ФАЙЛ [ИМЯ ФАЙЛ...] [-i] [-v]
Даёт каждой записи ИМЯ содержимое файла ФАЙЛ; запись сохраняет место и имя.
Новый архив заменяет старый, только когда он полностью готов.

</translation>
    </message>
    <message>
        <source>Usage: kbx add ARCHIVE NAME FILE [NAME FILE...] [-i] [-v]
Appends entries NAME with the contents of FILE; a name already in the
archive, or not beneath Version/, is refused. The new archive replaces the
old one only when it is complete.

</source>
        <translation>Использование: kbx add АРХИВ ИМЯ ФАЙЛ [ИМЯ ФАЙЛ...] [-i] [-v]
Добавляет записи ИМЯ с содержимым файла ФАЙЛ; имя, которое уже есть в архиве
или лежит не в Version/, отклоняется. Новый архив заменяет старый, только
когда он полностью готов.

</translation>
    </message>
    <message>
        <source>Usage: kbx remove ARCHIVE PATTERN... [-i] [-v]
Drops the entries that match. The new archive replaces the old one only
when it is complete.

</source>
        <translation>Использование: kbx remove АРХИВ ШАБЛОН... [-i] [-v]
Удаляет подходящие записи. Новый архив заменяет старый, только когда он
полностью готов.

</translation>
    </message>
    <message>
        <source>Usage: kbx undo ARCHIVE
Takes back the last edit made with -i, byte for byte, when the archive has
not changed since. Like the edit, it survives a crash at any moment.

      --no-wait  fail when another process is editing the archive
  -h, --help     show this help
</source>
        <translation>Использование: kbx undo АРХИВ
Отменяет последнее изменение, сделанное с -i, байт в байт, если архив с тех
пор не менялся. Как и само изменение, переживает сбой в любой момент.

      --no-wait  ошибка, если архив меняет другой процесс
  -h, --help     эта справка
</translation>
    </message>
    <message>
        <source>Usage: kbx compact ARCHIVE [-v]
Writes the archive anew with its data back to back in directory order,
dropping the unused bytes that edits made with -i leave. The new archive
replaces the old one only when it is complete.

  -v, --verbose  print the time taken
      --no-wait  fail when another process is editing the archive
  -h, --help     show this help
</source>
        <translation>Использование: kbx compact АРХИВ [-v]
Записывает архив заново, с данными подряд в порядке каталога, без
неиспользуемых байтов, которые оставляют изменения с -i. Новый архив
заменяет старый, только когда он полностью готов.

  -v, --verbose  печатать затраченное время
      --no-wait  ошибка, если архив меняет другой процесс
  -h, --help     эта справка
</translation>
    </message>
    <message>
        <source>the data are not back to back in directory order (kbx compact lays them out so)
</source>
        <translation>Данные лежат не подряд в порядке каталога (так их располагает kbx compact)
</translation>
    </message>
    <message>
        <source>  -T, --files-from FILE  also take the names from FILE (&apos;-&apos;: standard
                         input), one a line
      --null             names in FILE end with a NUL byte, not a newline
</source>
        <translation>  -T, --files-from ФАЙЛ  взять имена ещё и из файла ФАЙЛ («-» — стандартный
                         ввод), по одному в строке
      --null             имена в файле заканчиваются байтом NUL, а не
                         переводом строки
</translation>
    </message>
    <message>
        <source>Usage: kbx list ARCHIVE [PATTERN...] [--json]
Prints one line per entry: index, offset, size and name, separated by tabs.
Control characters in names are shown as escapes such as \x1b.

      --json     print a JSON document with the exact names
  -h, --help     show this help
</source>
        <translation>Использование: kbx list АРХИВ [ШАБЛОН...] [--json]
Печатает по строке на запись: номер, смещение, размер и имя через табуляцию.
Управляющие символы в именах показаны последовательностями вроде \x1b.

      --json     документ JSON с точными именами
  -h, --help     эта справка
</translation>
    </message>
    <message>
        <source>In FILE, each NAME and its FILE are two names in a row.
</source>
        <translation>В файле -T каждое ИМЯ и его ФАЙЛ — два имени подряд.
</translation>
    </message>
    <message>
        <source>Usage: kbx diff A B [--json]
Compares A with B, each an archive or a folder holding an unpacked Version/
tree. Prints one line per difference, in A&apos;s order, then B&apos;s:
  M NAME  the bytes differ
  + NAME  only in B
  - NAME  only in A
Names match with letter case ignored, as in the game. Sizes are compared
first, bytes only where sizes agree. Exit status 0 when A and B hold the
same, 1 when they differ.

      --json     print a JSON document with the exact names
  -h, --help     show this help
</source>
        <translation>Использование: kbx diff A B [--json]
Сравнивает A с B; каждый — архив или папка с распакованным деревом Version/.
Печатает по строке на различие, в порядке A, затем B:
  M ИМЯ  байты различаются
  + ИМЯ  только в B
  - ИМЯ  только в A
Имена сравниваются без учёта регистра, как в игре. Сначала сравниваются
размеры, байты — только при равных размерах. Код выхода 0, если A и B
содержат одно и то же, 1 — если различаются.

      --json     документ JSON с точными именами
  -h, --help     эта справка
</translation>
    </message>
    <message>
        <source>--null needs -T FILE</source>
        <translation>--null действует только с -T ФАЙЛ</translation>
    </message>
    <message>
        <source>missing A or B</source>
        <translation>не указан A или B</translation>
    </message>
    <message>
        <source>update</source>
        <translation>обновление</translation>
    </message>
    <message>
        <source>Usage: kbx update ARCHIVE TREE [-i] [-n] [-v]
Puts the files beneath TREE/Version/ into ARCHIVE under the names unpack
gives them: a file whose bytes differ from its entry replaces it, a file
without an entry is added; entries without a file stay. When nothing
differs the archive is not touched.

</source>
        <translation>Использование: kbx update АРХИВ ДЕРЕВО [-i] [-n] [-v]
Записывает в архив АРХИВ файлы из ДЕРЕВО/Version/ под именами, которые им
даёт распаковка: файл, чьи байты отличаются от записи, заменяет её, файл
без записи добавляется; записи без файла остаются. Если ничего не
отличается, архив не меняется.

</translation>
    </message>
    <message>
        <source>missing TREE</source>
        <translation>не указано ДЕРЕВО</translation>
    </message>
    <message numerus="yes">
        <source>%1: %2/%n entries, %3/%4</source>
        <translation>
            <numerusform>%1: %2 из %n записи, %3 из %4</numerusform>
            <numerusform>%1: %2 из %n записей, %3 из %4</numerusform>
            <numerusform>%1: %2 из %n записей, %3 из %4</numerusform>
        </translation>
    </message>
    <message>
        <source>%1: %2/%3</source>
        <translation>%1: %2 из %3</translation>
    </message>
    <message numerus="yes">
        <source>%1: %n entries, %2 in %3 s</source>
        <translation>
            <numerusform>%1: %n запись, %2 за %3 с</numerusform>
            <numerusform>%1: %n записи, %2 за %3 с</numerusform>
            <numerusform>%1: %n записей, %2 за %3 с</numerusform>
        </translation>
    </message>
    <message>
        <source>rename</source>
        <translation>переименование</translation>
    </message>
    <message numerus="yes">
        <source>%n entries</source>
        <translation>
            <numerusform>%n запись</numerusform>
            <numerusform>%n записи</numerusform>
            <numerusform>%n записей</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1, %n problems
</source>
        <translation>
            <numerusform>%1, %n ошибка
</numerusform>
            <numerusform>%1, %n ошибки
</numerusform>
            <numerusform>%1, %n ошибок
</numerusform>
        </translation>
    </message>
    <message>
        <source>%1, no problems
</source>
        <translation>%1, ошибок нет
</translation>
    </message>
    <message numerus="yes">
        <source>%n bytes unused (kbx compact removes them)
</source>
        <translation>
            <numerusform>%n байт не используется (его уберёт kbx compact)
</numerusform>
            <numerusform>%n байта не используются (их уберёт kbx compact)
</numerusform>
            <numerusform>%n байтов не используются (их уберёт kbx compact)
</numerusform>
        </translation>
    </message>
    <message>
        <source>Usage: kbx COMMAND [OPTION...] ARGUMENT...
Lists, checks, unpacks and packs KBX archives of the game Velmorra.

Commands:
  list ARCHIVE [PATTERN...]     list the entries: index, offset, size, name
  verify ARCHIVE                check the header, directory, bounds and names
  extract ARCHIVE PATTERN...    extract the entries that match
  unpack ARCHIVE                extract every entry
  pack ROOT -o ARCHIVE          pack ROOT/Version/Data/* and then ROOT/Version/*
  replace ARCHIVE NAME FILE...  give entries the contents of files
  add ARCHIVE NAME FILE...      append new entries
  remove ARCHIVE PATTERN...     drop entries
  rename ARCHIVE OLD NEW...     give entries new names
  diff A B                      what differs between archives or unpacked trees
  update ARCHIVE TREE           put the files of TREE/Version/ that differ into ARCHIVE
  undo ARCHIVE                  take back the last edit made with -i
  compact ARCHIVE               rewrite the archive without unused bytes
  help [COMMAND]                describe a command

Options:
  -h, --help     show this help
      --version  show the version

&apos;kbx help COMMAND&apos; or &apos;kbx COMMAND --help&apos; describes a command and its options.

Exit status: 0 success; 1 some entries failed, a pattern matched nothing or
verify found problems; 2 a usage error, an unusable archive or path, or a
failed write; 128+N when signal N stopped the run.
</source>
        <translation>Использование: kbx КОМАНДА [ПАРАМЕТР...] АРГУМЕНТ...
Показывает, проверяет, распаковывает и запаковывает KBX архивы игры Velmorra.

Команды:
  list АРХИВ [ШАБЛОН...]         список записей: номер, смещение, размер, имя
  verify АРХИВ                   проверка заголовка, каталога, границ и имён
  extract АРХИВ ШАБЛОН...        извлечь подходящие записи
  unpack АРХИВ                   извлечь все записи
  pack КОРЕНЬ -o АРХИВ           запаковать КОРЕНЬ/Version/Data/*, затем
                                 КОРЕНЬ/Version/*
  replace АРХИВ ИМЯ ФАЙЛ...      дать записям содержимое файлов
  add АРХИВ ИМЯ ФАЙЛ...          добавить новые записи
  remove АРХИВ ШАБЛОН...         удалить записи
  rename АРХИВ СТАРОЕ НОВОЕ...   дать записям новые имена
  diff A B                       различия между архивами или распакованными
                                 деревьями
  update АРХИВ ДЕРЕВО            записать в АРХИВ отличающиеся файлы
                                 ДЕРЕВО/Version/
  undo АРХИВ                     отменить последнее изменение, сделанное с -i
  compact АРХИВ                  переписать архив без неиспользуемых байтов
  help [КОМАНДА]                 описание команды

Параметры:
  -h, --help     эта справка
      --version  версия программы

«kbx help КОМАНДА» или «kbx КОМАНДА --help» описывает команду и её параметры.

Коды выхода: 0 успех; 1 часть записей не обработана, шаблону ничего не
подошло или проверка нашла ошибки; 2 ошибка в командной строке, непригодный
архив или путь, ошибка записи; 128+N выполнение остановлено сигналом N.
</translation>
    </message>
    <message>
        <source>Usage: kbx pack ROOT -o ARCHIVE [-r] [-n] [-v]
Packs the files of ROOT/Version/Data and then those of ROOT/Version into
ARCHIVE. An existing ARCHIVE is replaced only by a complete new one.
Without -r, each sub-folder left out is named with the number of files in
it, and the exit status is 1. Links to folders are never followed.

  -o, --output ARCHIVE  the archive to write (required)
  -r, --recursive       pack sub-folders too: a folder&apos;s files, then each
                        sub-folder&apos;s, as &quot;Version\Data\sub\file&quot;
  -n, --dry-run         print the entries a pack would hold, and write nothing
  -v, --verbose         print each entry&apos;s name and the time taken
  -h, --help            show this help
</source>
        <translation>Использование: kbx pack КОРЕНЬ -o АРХИВ [-r] [-n] [-v]
Запаковывает файлы КОРЕНЬ/Version/Data, затем КОРЕНЬ/Version в архив АРХИВ.
Существующий архив заменяется только полностью готовым новым.
Без -r каждая незапакованная вложенная папка называется с числом файлов
в ней, и код выхода равен 1. По ссылкам на папки pack не переходит.

  -o, --output АРХИВ  архив, который нужно записать (обязательно)
  -r, --recursive     запаковать и вложенные папки: сначала файлы папки,
                      затем каждой вложенной, как «Version\Data\sub\file»
  -n, --dry-run       напечатать записи будущего архива, ничего не записывая
  -v, --verbose       печатать имя каждой записи и затраченное время
  -h, --help          эта справка
</translation>
    </message>
    <message>
        <source>Usage: kbx rename ARCHIVE OLD NEW [OLD NEW...] [-i] [-v]
Gives the entry OLD the name NEW; it keeps its place and its bytes. OLD
is an entry&apos;s name, as for replace; NEW follows the rules of add: a name
another entry keeps, or not beneath Version/, is refused. The new archive
replaces the old one only when it is complete.

</source>
        <translation>Использование: kbx rename АРХИВ СТАРОЕ НОВОЕ [СТАРОЕ НОВОЕ...] [-i] [-v]
Даёт записи СТАРОЕ имя НОВОЕ; запись сохраняет место и байты. СТАРОЕ —
имя записи, как для replace; НОВОЕ подчиняется правилам add: имя, которое
остаётся у другой записи или лежит не в Version/, отклоняется. Новый архив
заменяет старый, только когда он полностью готов.

</translation>
    </message>
    <message>
        <source>In FILE, each OLD and its NEW are two names in a row.
</source>
        <translation>В файле -T каждое СТАРОЕ и его НОВОЕ — два имени подряд.
</translation>
    </message>
    <message>
        <source>NEW missing after the last OLD</source>
        <translation>после последнего аргумента СТАРОЕ не указано НОВОЕ</translation>
    </message>
    <message>
        <source>missing OLD and NEW</source>
        <translation>не указаны СТАРОЕ и НОВОЕ</translation>
    </message>
    <message>
        <source>  -i, --in-place  change the archive in place: only the new bytes are written
                  (at its end) and the directory bytes that change; the old
                  data stay as unused bytes until &apos;kbx compact&apos;. A crash at any
                  moment leaves the archive as it was or as edited; &apos;kbx undo&apos;
                  takes the edit back
  -n, --dry-run   print the entries that would change, and change nothing
  -v, --verbose   print each entry changed, the bytes written and the time
                  taken
      --no-wait   fail when another process is editing the archive
  -h, --help      show this help
</source>
        <translation>  -i, --in-place  менять архив на месте: записываются только новые байты
                  (в его конец) и изменённые байты каталога; старые данные
                  остаются неиспользуемыми байтами до «kbx compact». Сбой в
                  любой момент оставляет архив прежним или изменённым;
                  «kbx undo» отменяет изменение
  -n, --dry-run   напечатать записи, которые изменятся, ничего не меняя
  -v, --verbose   печатать каждую изменённую запись, записанные байты и
                  затраченное время
      --no-wait   ошибка, если архив меняет другой процесс
  -h, --help      эта справка
</translation>
    </message>
</context>
</TS>
