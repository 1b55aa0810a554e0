<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru" sourcelanguage="en">
<context>
    <name>CAnalysisPanel</name>
    <message>
        <source>The template has changed since this analysis.</source>
        <translation>Шаблон изменился после этого анализа.</translation>
    </message>
    <message>
        <source>Text</source>
        <translation>Текст</translation>
    </message>
    <message>
        <source>Detail</source>
        <translation>Подробности</translation>
    </message>
    <message>
        <source>Groups that add the most variety</source>
        <translation>Группы, которые дают больше всего разнообразия</translation>
    </message>
    <message>
        <source>Longest fixed stretches</source>
        <translation>Самые длинные неизменные фрагменты</translation>
    </message>
    <message>
        <source>Findings</source>
        <translation>Замечания</translation>
    </message>
    <message>
        <source>How much the mean similarity rises when the group always gives its first alternative</source>
        <translation>На сколько вырастет среднее сходство, если группа всегда будет давать первую альтернативу</translation>
    </message>
    <message>
        <source>Analysing the template...</source>
        <translation>Анализ шаблона...</translation>
    </message>
    <message>
        <source>The analysis was stopped.</source>
        <translation>Анализ остановлен.</translation>
    </message>
    <message>
        <source>Versions: %1</source>
        <translation>Вариантов: %1</translation>
    </message>
    <message>
        <source>Similarity of %1 random pairs: mean %2%, median %3%, 95th percentile %4%</source>
        <translation>Сходство %1 случайных пар: в среднем %2%, медиана %3%, 95-й процентиль %4%</translation>
    </message>
    <message>
        <source>Similar pairs (above %1%): %2% (%3% to %4%)</source>
        <translation>Похожих пар (сходство выше %1%): %2% (от %3% до %4%)</translation>
    </message>
    <message>
        <source>Versions a &quot;skip similar&quot; run keeps: about %1 (%2 to %3)</source>
        <translation>Останется вариантов при генерации без похожих: около %1 (от %2 до %3)</translation>
    </message>
    <message>
        <source>+%1 points</source>
        <translation>+%1 п. п.</translation>
    </message>
    <message>
        <source>1 word</source>
        <translation>1 слово</translation>
    </message>
    <message numerus="yes">
        <source>%n words</source>
        <translation><numerusform>%n слово</numerusform><numerusform>%n слова</numerusform><numerusform>%n слов</numerusform></translation>
    </message>
    <message>
        <source>Findings (%1)</source>
        <translation>Замечания (%1)</translation>
    </message>
    <message>
        <source>... and %1 more</source>
        <translation>... и ещё %1</translation>
    </message>
</context>
<context>
    <name>CColoredRichEditCtrl</name>
    <message>
        <source>&amp;Insert</source>
        <translation>В&amp;ставка</translation>
    </message>
    <message>
        <source>&amp;Cut</source>
        <translation>Выреза&amp;ть</translation>
    </message>
    <message>
        <source>&amp;Copy</source>
        <translation>&amp;Копировать</translation>
    </message>
    <message>
        <source>&amp;Paste</source>
        <translation>Вст&amp;авить</translation>
    </message>
    <message>
        <source>&amp;Delete</source>
        <translation>&amp;Удалить</translation>
    </message>
    <message>
        <source>&amp;Select All</source>
        <translation>Выделить &amp;все</translation>
    </message>
</context>
<context>
    <name>CDeletingOptionsDlg</name>
    <message>
        <source>Remove exact matches</source>
        <translation>Удалять точные совпадения</translation>
    </message>
    <message>
        <source>Remove with Shingles method</source>
        <translation>Удалять методом шинглов</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <source>Shingle length</source>
        <translation>Длина шингла</translation>
    </message>
    <message>
        <source>Allowed percent of similarity</source>
        <translation>Допустимый процент сходства</translation>
    </message>
</context>
<context>
    <name>CHelpWindow</name>
    <message>
        <source>Phrasemill Help</source>
        <translation>Справка Phrasemill</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>Назад</translation>
    </message>
    <message>
        <source>Forward</source>
        <translation>Вперёд</translation>
    </message>
    <message>
        <source>Contents</source>
        <translation>Содержание</translation>
    </message>
    <message>
        <source>&amp;Find the words:</source>
        <translation>&amp;Найти слова:</translation>
    </message>
    <message>
        <source>Search</source>
        <translation>Найти</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>No match for &quot;%1&quot;.</source>
        <translation>«%1» не найдено.</translation>
    </message>
</context>
<context>
    <name>CInputDataPage</name>
    <message>
        <source>&quot;%1&quot; is not UTF-8 text; it was read as %2.<byte value="xd"/>
If you change the template, the original file is kept as &quot;%3&quot; and the template is saved in UTF-8.</source>
        <translation>Файл «%1» записан не в UTF-8; он прочитан в кодировке %2.<byte value="xd"/>
Если вы измените шаблон, исходный файл останется под именем «%3», а шаблон будет сохранён в UTF-8.</translation>
    </message>
    <message>
        <source>Text Files (*.txt);;All Files (*)</source>
        <translation>Текстовые файлы (*.txt);;Все файлы (*)</translation>
    </message>
</context>
<context>
    <name>CMainFrame</name>
    <message>
        <source>Data</source>
        <translation>Данные</translation>
    </message>
    <message>
        <source>Results</source>
        <translation>Результаты</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Сохранить</translation>
    </message>
    <message>
        <source>Check the template&apos;s syntax</source>
        <translation>Проверить синтаксис шаблона</translation>
    </message>
    <message>
        <source>Generate versions</source>
        <translation>Создать варианты текста</translation>
    </message>
    <message>
        <source>Stop the running job</source>
        <translation>Остановить текущую операцию</translation>
    </message>
    <message>
        <source>Delete identical or similar versions</source>
        <translation>Удалить одинаковые или похожие варианты</translation>
    </message>
    <message>
        <source>Shuffle the versions</source>
        <translation>Перемешать варианты</translation>
    </message>
    <message>
        <source>About Phrasemill</source>
        <translation>О программе Phrasemill</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Справка</translation>
    </message>
    <message>
        <source>About Phrasemill 2.0</source>
        <translation>О программе Phrasemill 2.0</translation>
    </message>
    <message>
        <source>%1 Built on %2</source>
        <translation>%1, сборка от %2</translation>
    </message>
    <message>
        <source>%1 in the value of %2.</source>
        <translation>%1 в значении переменной %2.</translation>
    </message>
    <message>
        <source>Analysis</source>
        <translation>Анализ</translation>
    </message>
    <message>
        <source>Analyze</source>
        <translation>Анализ</translation>
    </message>
    <message>
        <source>The template passes the check but cannot be loaded.</source>
        <translation>Шаблон прошёл проверку, но загрузить его не удалось.</translation>
    </message>
    <message>
        <source>Analyze the template: exact number of versions, uniqueness forecast and findings</source>
        <translation>Проанализировать шаблон: точное число вариантов, прогноз уникальности и замечания</translation>
    </message>
</context>
<context>
    <name>COptionsDialogP1</name>
    <message>
        <source>Text options</source>
        <translation>Параметры текста</translation>
    </message>
    <message>
        <source>Allowed length from</source>
        <translation>Длина от</translation>
    </message>
    <message>
        <source>Enable auto-correction</source>
        <translation>Автокоррекция</translation>
    </message>
    <message>
        <source>Edit...</source>
        <translation>Настроить...</translation>
    </message>
    <message>
        <source>to</source>
        <translation>до</translation>
    </message>
    <message>
        <source>Generation options</source>
        <translation>Параметры генерации</translation>
    </message>
    <message>
        <source>Skip similar versions</source>
        <translation>Без похожих</translation>
    </message>
    <message>
        <source>Versions count</source>
        <translation>Число вариантов</translation>
    </message>
    <message>
        <source>Generation type</source>
        <translation>Порядок</translation>
    </message>
</context>
<context>
    <name>COutputDataPage</name>
    <message>
        <source>&amp;Copy Selected	Ctrl+C</source>
        <translation>&amp;Копировать выделенные	Ctrl+C</translation>
    </message>
    <message>
        <source>Select All	Ctrl+A</source>
        <translation>Выделить все	Ctrl+A</translation>
    </message>
    <message>
        <source>&amp;Save Selected	Ctrl+S</source>
        <translation>&amp;Сохранить выделенные	Ctrl+S</translation>
    </message>
    <message>
        <source>&amp;Save All</source>
        <translation>Сохранить &amp;все</translation>
    </message>
    <message>
        <source>&amp;Save Selected to different files	Ctrl+D</source>
        <translation>Сохранить выделенные в &amp;отдельные файлы	Ctrl+D</translation>
    </message>
    <message>
        <source>Save All to different files</source>
        <translation>Сохранить все в отдельные файлы</translation>
    </message>
    <message>
        <source>&amp;Saving Options...</source>
        <translation>&amp;Параметры сохранения...</translation>
    </message>
    <message>
        <source>&amp;Save All to different files</source>
        <translation>Сохранить все в отдельные &amp;файлы</translation>
    </message>
    <message>
        <source>Copying versions...</source>
        <translation>Копирование вариантов...</translation>
    </message>
</context>
<context>
    <name>COutputStringDialog</name>
    <message>
        <source>&amp;Copy</source>
        <translation>&amp;Копировать</translation>
    </message>
    <message>
        <source>&amp;Select All</source>
        <translation>Выделить &amp;все</translation>
    </message>
</context>
<context>
    <name>CSavingOptionsDlg</name>
    <message>
        <source>Custom versions separator</source>
        <translation>Свой разделитель вариантов</translation>
    </message>
    <message>
        <source>&lt;br&gt; - &quot;Enter&quot; symbol</source>
        <translation>&lt;br&gt; — перевод строки (Enter)</translation>
    </message>
    <message>
        <source>Saving options</source>
        <translation>Параметры сохранения</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>ОК</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
</context>
<context>
    <name>CStringHandlingOptions</name>
    <message>
        <source>Auto-correction options</source>
        <translation>Параметры автокоррекции</translation>
    </message>
    <message>
        <source>Remove left and right spaces in the line</source>
        <translation>Удалять пробелы в начале и в конце строки</translation>
    </message>
    <message>
        <source>Remove spaces before punctuation marks</source>
        <translation>Удалять пробелы перед знаками препинания</translation>
    </message>
    <message>
        <source>Remove extra spaces</source>
        <translation>Удалять лишние пробелы</translation>
    </message>
    <message>
        <source>Switch the first letter of the line to uppercase</source>
        <translation>Начинать строку с заглавной буквы</translation>
    </message>
    <message>
        <source>Switch the first letter of the sentence to uppercase</source>
        <translation>Начинать предложение с заглавной буквы</translation>
    </message>
    <message>
        <source>Add spaces after punctuation marks if necessary</source>
        <translation>Ставить пробел после знаков препинания, где его нет</translation>
    </message>
    <message>
        <source>Remove extra punctuation marks</source>
        <translation>Удалять лишние знаки препинания</translation>
    </message>
    <message>
        <source>Do not apply auto-correction to HTML tags</source>
        <translation>Не исправлять HTML-теги</translation>
    </message>
    <message>
        <source>Rules</source>
        <translation>Правила</translation>
    </message>
    <message>
        <source>HTML tags</source>
        <translation>HTML-теги</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>ОК</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
</context>
<context>
    <name>CXPThemeMessageBox</name>
    <message>
        <source>OK</source>
        <translation>ОК</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <source>&amp;Yes</source>
        <translation>&amp;Да</translation>
    </message>
    <message>
        <source>&amp;No</source>
        <translation>&amp;Нет</translation>
    </message>
</context>
<context>
    <name>Messages</name>
    <message>
        <source>Syntax is correct.         </source>
        <translation>Ошибок в синтаксисе нет.         </translation>
    </message>
    <message>
        <source>Extra bracket } at position %ld</source>
        <translation>Лишняя скобка } в позиции %ld</translation>
    </message>
    <message>
        <source>Save        
Check Syntax   
Generate!  
Stop        
About       
Help     </source>
        <translation>Сохранить
Проверить синтаксис
Создать!
Стоп
О программе
Справка</translation>
    </message>
    <message>
        <source>Extra bracket ] at position %ld</source>
        <translation>Лишняя скобка ] в позиции %ld</translation>
    </message>
    <message>
        <source> Unclosed bracket { at position %ld</source>
        <translation> Незакрытая скобка { в позиции %ld</translation>
    </message>
    <message>
        <source> Unclosed bracket [ at position %ld</source>
        <translation> Незакрытая скобка [ в позиции %ld</translation>
    </message>
    <message>
        <source>Extra bracket  ] at position %ld</source>
        <translation>Лишняя скобка ] в позиции %ld</translation>
    </message>
    <message>
        <source>Incorrect syntax for &lt;&gt; brackets at position %ld</source>
        <translation>Неверная запись скобок &lt;&gt; в позиции %ld</translation>
    </message>
    <message>
        <source>Unknown Error</source>
        <translation>Неизвестная ошибка</translation>
    </message>
    <message>
        <source>Incorrect variable definition at position %ld.<byte value="xd"/>
Variable must be defined like &quot;#set %%variable%% = value&quot; and ended with Enter.</source>
        <translation>Неверное определение переменной в позиции %ld.<byte value="xd"/>
Переменную задают строкой вида &quot;#set %%переменная%% = значение&quot;, которая заканчивается переводом строки (Enter).</translation>
    </message>
    <message>
        <source>Results have been saved successfully.</source>
        <translation>Результаты сохранены.</translation>
    </message>
    <message>
        <source>Denied symbol in macro variable name at position %d. Variable name cant&apos;t maintain &quot; { } [ ] &quot; symbols.</source>
        <translation>Недопустимый символ в имени переменной в позиции %d. Имя переменной не может содержать символы &quot; { } [ ] &quot;.</translation>
    </message>
    <message>
        <source>Position: %d</source>
        <translation>Позиция: %d</translation>
    </message>
    <message>
        <source>Input text has been saved successfully.</source>
        <translation>Шаблон сохранён.</translation>
    </message>
    <message>
        <source>Input text could not be saved.</source>
        <translation>Не удалось сохранить шаблон.</translation>
    </message>
    <message>
        <source>Save        
Delete Identical
Shuffle       
Stop        
About       
Help     </source>
        <translation>Сохранить
Удалить повторы
Перемешать
Стоп
О программе
Справка</translation>
    </message>
    <message>
        <source>Max possible versions:   </source>
        <translation>Возможно вариантов:   </translation>
    </message>
    <message>
        <source>Generated versions:   </source>
        <translation>Создано вариантов:   </translation>
    </message>
    <message>
        <source>There were errors during saving. Some data might be lost.</source>
        <translation>При сохранении произошли ошибки. Часть данных могла не сохраниться.</translation>
    </message>
    <message>
        <source>Save generated results before exit?</source>
        <translation>Сохранить результаты перед выходом?</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Удалить</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>ОК</translation>
    </message>
    <message>
        <source>Delete</source>
        <comment>window title</comment>
        <translation>Удаление</translation>
    </message>
    <message>
        <source>Deleting options</source>
        <translation>Параметры удаления</translation>
    </message>
    <message>
        <source>Generating...</source>
        <translation>Генерация...</translation>
    </message>
    <message>
        <source>Shuffling...</source>
        <translation>Перемешивание...</translation>
    </message>
    <message>
        <source>Searching...</source>
        <translation>Поиск...</translation>
    </message>
    <message>
        <source>Deleting...</source>
        <translation>Удаление...</translation>
    </message>
    <message>
        <source>All strings has been processed. %ld strings has been deleted.</source>
        <translation>Обработаны все строки. Удалено строк: %ld.</translation>
    </message>
    <message>
        <source>%ld strings has been processed. %ld strings has been deleted.</source>
        <translation>Обработано строк: %ld. Удалено строк: %ld.</translation>
    </message>
    <message>
        <source>Random</source>
        <translation>Случайный</translation>
    </message>
    <message>
        <source>In Series</source>
        <translation>Прямой</translation>
    </message>
    <message>
        <source>Version #%s (length %s) </source>
        <translation>Вариант № %s (длина %s) </translation>
    </message>
    <message>
        <source>Max</source>
        <translation>Все</translation>
    </message>
    <message>
        <source>Unlimited</source>
        <translation>Не ограничена</translation>
    </message>
    <message>
        <source>Length</source>
        <translation>Длина</translation>
    </message>
    <message>
        <source>Text</source>
        <translation>Текст</translation>
    </message>
    <message>
        <source>All strings has been shuffled.</source>
        <translation>Все строки перемешаны.</translation>
    </message>
    <message>
        <source>%ld strings has been shuffled.</source>
        <translation>Перемешано строк: %ld.</translation>
    </message>
    <message>
        <source> in macro definition.</source>
        <translation> в определении переменной.</translation>
    </message>
    <message>
        <source>Min string length restriction more than max.</source>
        <translation>Минимальная длина строки больше максимальной.</translation>
    </message>
    <message>
        <source>Default separator of the group at position %ld makes the template too large</source>
        <translation>Разделитель по умолчанию у группы в позиции %ld делает шаблон слишком большим</translation>
    </message>
    <message>
        <source>Variable defined at position %ld makes the template too large</source>
        <translation>Переменная, определённая в позиции %ld, делает шаблон слишком большим</translation>
    </message>
    <message>
        <source>This group has only one alternative: its braces disappear and every version gets the same text.</source>
        <translation>В этой группе только одна альтернатива: скобки пропадут, и во всех вариантах здесь будет один и тот же текст.</translation>
    </message>
    <message>
        <source>This alternative repeats an earlier one of the same group: versions repeat and this text comes up more often.</source>
        <translation>Эта альтернатива повторяет одну из предыдущих в той же группе: варианты будут повторяться, а этот текст — встречаться чаще других.</translation>
    </message>
    <message>
        <source>This alternative differs from an earlier one of the same group only in the white space around it.</source>
        <translation>Эта альтернатива отличается от одной из предыдущих в той же группе только пробелами по краям.</translation>
    </message>
    <message>
        <source>This group is empty: it adds nothing to any version.</source>
        <translation>Группа пуста: она ничего не добавляет ни в один вариант.</translation>
    </message>
    <message>
        <source>Every alternative of this group is empty: it adds nothing to any version.</source>
        <translation>Все альтернативы этой группы пусты: она ничего не добавляет ни в один вариант.</translation>
    </message>
    <message>
        <source>No #set line defines %s: it stays in every version as it stands.</source>
        <translation>Ни одна строка #set не определяет %s: во всех вариантах это имя останется как есть.</translation>
    </message>
    <message>
        <source>%s is defined but never used.</source>
        <translation>Переменная %s определена, но нигде не используется.</translation>
    </message>
    <message>
        <source>%s is already defined above: the first definition wins, so this line does nothing.</source>
        <translation>Переменная %s уже определена выше: действует первое определение, поэтому эта строка ни на что не влияет.</translation>
    </message>
    <message>
        <source>%s is replaced before %s, so it stays as plain text in this value.</source>
        <translation>Переменная %s подставляется раньше, чем %s, поэтому в этом значении она останется обычным текстом.</translation>
    </message>
    <message>
        <source>A value cannot use its own name %s: it stays as plain text.</source>
        <translation>Значение не может ссылаться на собственное имя %s: оно останется обычным текстом.</translation>
    </message>
    <message>
        <source>This arrangement group has only one alternative: every version gets the same text.</source>
        <translation>В этой группе перестановки только одна альтернатива: во всех вариантах здесь будет один и тот же текст.</translation>
    </message>
    <message>
        <source>This separator never appears: the group has only one alternative.</source>
        <translation>Этот разделитель никогда не появится: в группе только одна альтернатива.</translation>
    </message>
    <message>
        <source>This separator never appears: every alternative but the last has its own separator.</source>
        <translation>Этот разделитель никогда не появится: у каждой альтернативы, кроме последней, есть свой разделитель.</translation>
    </message>
    <message>
        <source>%d words of fixed text: every version shares them.</source>
        <translation>Неизменный текст, слов: %d — он одинаков во всех вариантах.</translation>
    </message>
    <message>
        <source>There is not enough memory to finish this job.</source>
        <translation>Не хватает памяти, чтобы завершить эту операцию.</translation>
    </message>
    <message>
        <source>The template could not be loaded.</source>
        <translation>Не удалось загрузить шаблон.</translation>
    </message>
    <message>
        <source>Every version number that random order can draw has been drawn; use series order to reach the others.</source>
        <translation>Все номера вариантов, доступные в случайном порядке, уже выбраны; остальные варианты можно получить, генерируя по порядку.</translation>
    </message>
    <message>
        <source>Stopped early: the kept versions need %s MB, which reaches the run&apos;s memory budget of %s MB. The versions kept so far are complete.</source>
        <translation>Генерация остановлена досрочно: полученные варианты занимают %s МБ — это предел памяти, отведённой на генерацию (%s МБ). Все варианты, полученные до остановки, целы.</translation>
    </message>
    <message>
        <source>Stopped early: the kept versions and their similarity index need %s MB, which reaches the run&apos;s memory budget of %s MB. The versions kept so far are complete.</source>
        <translation>Генерация остановлена досрочно: полученные варианты вместе с индексом сходства занимают %s МБ — это предел памяти, отведённой на генерацию (%s МБ). Все варианты, полученные до остановки, целы.</translation>
    </message>
</context>
<context>
    <name>Saving</name>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <source>Saving results...</source>
        <translation>Сохранение результатов...</translation>
    </message>
    <message>
        <source>Text Files (*.txt);;All Files (*.*)</source>
        <translation>Текстовые файлы (*.txt);;Все файлы (*.*)</translation>
    </message>
    <message>
        <source>%1 already exists.
Do you want to replace it?</source>
        <translation>Файл %1 уже существует.
Заменить его?</translation>
    </message>
    <message>
        <source>Choose folder for saving results</source>
        <translation>Выберите папку для сохранения результатов</translation>
    </message>
</context>
</TS>
