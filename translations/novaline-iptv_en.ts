<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>ContextMenu</name>
    <message>
        <source>Воспроизвести</source>
        <translation>Play</translation>
    </message>
    <message>
        <source>Пауза</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Предыдущий</source>
        <translation>Previous</translation>
    </message>
    <message>
        <source>Следующий</source>
        <translation>Next</translation>
    </message>
    <message>
        <source>Предыдущий канал</source>
        <translation>Previous channel</translation>
    </message>
    <message>
        <source>Аудиодорожка</source>
        <translation>Audio track</translation>
    </message>
    <message>
        <source>Видео</source>
        <translation>Video</translation>
    </message>
    <message>
        <source>Видеодорожка</source>
        <translation>Video track</translation>
    </message>
    <message>
        <source>Во весь экран</source>
        <translation>Fullscreen</translation>
    </message>
    <message>
        <source>Поверх всех окон</source>
        <translation>Always on top</translation>
    </message>
    <message>
        <source>Соотношение сторон</source>
        <translation>Aspect ratio</translation>
    </message>
    <message>
        <source>Кадрирование</source>
        <translation>Crop</translation>
    </message>
    <message>
        <source>Устранение чересстрочности</source>
        <translation>Deinterlacing</translation>
    </message>
    <message>
        <source>Субтитры</source>
        <translation>Subtitles</translation>
    </message>
    <message>
        <source>Телепрограмма</source>
        <translation>TV guide</translation>
    </message>
    <message>
        <source>Параметры</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Выход</source>
        <translation>Quit</translation>
    </message>
</context>
<context>
    <name>Controls</name>
    <message>
        <source>Пауза</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Воспроизвести</source>
        <translation>Play</translation>
    </message>
    <message>
        <source>Назад</source>
        <translation>Back</translation>
    </message>
    <message>
        <source>Вперед</source>
        <translation>Forward</translation>
    </message>
    <message>
        <source>Вкл. звук</source>
        <translation>Unmute</translation>
    </message>
    <message>
        <source>Выкл. звук</source>
        <translation>Mute</translation>
    </message>
    <message>
        <source>Телепрограмма</source>
        <translation>TV guide</translation>
    </message>
    <message>
        <source>Переключиться в режим ТВ</source>
        <translation>Switch to TV</translation>
    </message>
    <message>
        <source>Список каналов</source>
        <translation>Channel list</translation>
    </message>
    <message>
        <source>Размер изображения (%1)</source>
        <translation>Picture size (%1)</translation>
    </message>
    <message>
        <source>Оконный режим</source>
        <translation>Windowed</translation>
    </message>
    <message>
        <source>Полноэкранный режим</source>
        <translation>Fullscreen</translation>
    </message>
</context>
<context>
    <name>DeinterlacingMenu</name>
    <message>
        <source>отключено</source>
        <translation>off</translation>
    </message>
    <message>
        <source>Отбрасывание</source>
        <translation>Discard</translation>
    </message>
    <message>
        <source>Смешивание</source>
        <translation>Blend</translation>
    </message>
    <message>
        <source>Среднее</source>
        <translation>Mean</translation>
    </message>
    <message>
        <source>Удвоение</source>
        <translation>Bob</translation>
    </message>
    <message>
        <source>Линейное</source>
        <translation>Linear</translation>
    </message>
    <message>
        <source>Фоспор</source>
        <translation>Phosphor</translation>
    </message>
</context>
<context>
    <name>Playlist</name>
    <message>
        <source>Я люблю</source>
        <translation>Favourites</translation>
    </message>
    <message>
        <source>Здесь пока пусто</source>
        <translation>Nothing here yet</translation>
    </message>
</context>
<context>
    <name>RatioMenu</name>
    <message>
        <source>по умолчанию</source>
        <translation>default</translation>
    </message>
</context>
<context>
    <name>Reconnector</name>
    <message>
        <source>Канал недоступен</source>
        <translation>Channel unavailable</translation>
    </message>
    <message>
        <source>Переподключение… %1/%2</source>
        <translation>Reconnecting… %1/%2</translation>
    </message>
</context>
<context>
    <name>SceneLogic</name>
    <message>
        <source>Оригинал</source>
        <translation>Original</translation>
    </message>
    <message>
        <source>Другое</source>
        <translation>Other</translation>
    </message>
    <message>
        <source>Поиск...</source>
        <translation>Search...</translation>
    </message>
</context>
<context>
    <name>SettingsForm</name>
    <message>
        <source>Настройки</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Видео</source>
        <translation>Video</translation>
    </message>
    <message>
        <source>Ассоциации всех видеофайлов</source>
        <translation>Open all video files with this player</translation>
    </message>
    <message>
        <source>Создать</source>
        <translation>Create</translation>
    </message>
    <message>
        <source>Отменить</source>
        <translation>Remove</translation>
    </message>
    <message>
        <source>Устранение чересстрочности</source>
        <translation>Deinterlacing</translation>
    </message>
    <message>
        <source>Соотношение сторон</source>
        <translation>Aspect ratio</translation>
    </message>
    <message>
        <source>Кадрирование</source>
        <translation>Crop</translation>
    </message>
    <message>
        <source>Кеш сетевых данных(мс)*</source>
        <translation>Network cache (ms)*</translation>
    </message>
    <message>
        <source>Количество кешируемых милисекунд при открытии сетевых ресурсов(от 0 до 60000)</source>
        <translation>How many milliseconds of a network stream to buffer when opening it (0 to 60000)</translation>
    </message>
    <message>
        <source>Переподключение</source>
        <translation>Reconnection</translation>
    </message>
    <message>
        <source>При обрыве или зависании канала повторять подключение (5 попыток, около 30 с)</source>
        <translation>When a channel breaks off or freezes, connect again (5 tries, about 30 s)</translation>
    </message>
    <message>
        <source>Переподключаться к каналу при обрыве</source>
        <translation>Reconnect to a channel that breaks off</translation>
    </message>
    <message>
        <source>Аудио</source>
        <translation>Audio</translation>
    </message>
    <message>
        <source>Предпочитаемый язык аудио</source>
        <translation>Preferred audio language</translation>
    </message>
    <message>
        <source>Введите названия предпочитаемых языков через запятую в порядке приоритета(например: Ru,Rus,Russian,Русский,English).</source>
        <translation>Enter the names of your preferred languages, separated by commas, most wanted first (for example: En,Eng,English,Ru,Russian).</translation>
    </message>
    <message>
        <source>Субтитры</source>
        <translation>Subtitles</translation>
    </message>
    <message>
        <source>Предпочитаемый язык субтитров</source>
        <translation>Preferred subtitle language</translation>
    </message>
    <message>
        <source>Введите названия предпочитаемых языков через запятую в порядке приоритета(например: Ru,Rus,Russian,Русский,English) или оставьте пустым для отключения субтитров.</source>
        <translation>Enter the names of your preferred languages, separated by commas, most wanted first (for example: En,Eng,English,Ru,Russian), or leave empty to turn subtitles off.</translation>
    </message>
    <message>
        <source>Каналы</source>
        <translation>Channels</translation>
    </message>
    <message>
        <source>Каналы оператора</source>
        <translation>Operator&apos;s channels</translation>
    </message>
    <message>
        <source>Свой список (M3U)</source>
        <translation>My own list (M3U)</translation>
    </message>
    <message>
        <source>Список каналов</source>
        <translation>Channel list</translation>
    </message>
    <message>
        <source>Адрес (http, https) или файл списка каналов M3U</source>
        <translation>Address (http, https) or file of an M3U channel list</translation>
    </message>
    <message>
        <source>…</source>
        <translation>…</translation>
    </message>
    <message>
        <source>Телепрограмма (XMLTV)</source>
        <translation>TV guide (XMLTV)</translation>
    </message>
    <message>
        <source>из списка каналов</source>
        <translation>from the channel list</translation>
    </message>
    <message>
        <source>Сдвиг телепрограммы, мин</source>
        <translation>TV guide shift, min</translation>
    </message>
    <message>
        <source>Обновить</source>
        <translation>Reload</translation>
    </message>
    <message>
        <source>Интерфейс</source>
        <translation>Interface</translation>
    </message>
    <message>
        <source>Язык интерфейса*</source>
        <translation>Interface language*</translation>
    </message>
    <message>
        <source>*для применения требуется перезапуск</source>
        <translation>*takes effect after a restart</translation>
    </message>
    <message>
        <source>Перезапустить для обновления</source>
        <translation>Restart to update</translation>
    </message>
    <message>
        <source>Закрыть</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>По умолчанию</source>
        <translation>Default</translation>
    </message>
    <message>
        <source>16:9</source>
        <translation>16:9</translation>
    </message>
    <message>
        <source>16:10</source>
        <translation>16:10</translation>
    </message>
    <message>
        <source>1.85:1</source>
        <translation>1.85:1</translation>
    </message>
    <message>
        <source>2.21:1</source>
        <translation>2.21:1</translation>
    </message>
    <message>
        <source>2.35:1</source>
        <translation>2.35:1</translation>
    </message>
    <message>
        <source>2.39:1</source>
        <translation>2.39:1</translation>
    </message>
    <message>
        <source>4:3</source>
        <translation>4:3</translation>
    </message>
    <message>
        <source>5:4</source>
        <translation>5:4</translation>
    </message>
    <message>
        <source>5:3</source>
        <translation>5:3</translation>
    </message>
    <message>
        <source>1:1</source>
        <translation>1:1</translation>
    </message>
    <message>
        <source>Отключено</source>
        <translation>Off</translation>
    </message>
    <message>
        <source>Отбрасывание</source>
        <translation>Discard</translation>
    </message>
    <message>
        <source>Смешивание</source>
        <translation>Blend</translation>
    </message>
    <message>
        <source>Среднее</source>
        <translation>Mean</translation>
    </message>
    <message>
        <source>Удвоение</source>
        <translation>Bob</translation>
    </message>
    <message>
        <source>Линейное</source>
        <translation>Linear</translation>
    </message>
    <message>
        <source>X</source>
        <translation>X</translation>
    </message>
    <message>
        <source>Yadif</source>
        <translation>Yadif</translation>
    </message>
    <message>
        <source>Yadif(2x)</source>
        <translation>Yadif(2x)</translation>
    </message>
    <message>
        <source>Фоспор</source>
        <translation>Phosphor</translation>
    </message>
    <message>
        <source>NTSC(IVTC)</source>
        <translation>NTSC(IVTC)</translation>
    </message>
    <message>
        <source>Версия: %1</source>
        <translation>Version: %1</translation>
    </message>
    <message>
        <source>Системный</source>
        <translation>System</translation>
    </message>
    <message>
        <source>Отмена ассоциаций файлов</source>
        <translation>Removing file associations</translation>
    </message>
    <message>
        <source>Ассоциации видеофайлов отменены</source>
        <translation>Video files are no longer opened with this player</translation>
    </message>
    <message>
        <source>Создание ассоциаций файлов</source>
        <translation>Creating file associations</translation>
    </message>
    <message>
        <source>Ассоциации видеофайлов созданы</source>
        <translation>Video files now open with this player</translation>
    </message>
    <message>
        <source>Не удалось изменить ассоциации видеофайлов</source>
        <translation>Could not change the video file associations</translation>
    </message>
    <message>
        <source>Списки каналов (*.m3u *.m3u8);;Все файлы (*)</source>
        <translation>Channel lists (*.m3u *.m3u8);;All files (*)</translation>
    </message>
    <message>
        <source>Телепрограмма</source>
        <translation>TV guide</translation>
    </message>
    <message>
        <source>Телепрограммы XMLTV (*.xml *.xml.gz *.xml.xz *.gz *.xz);;Все файлы (*)</source>
        <translation>XMLTV guides (*.xml *.xml.gz *.xml.xz *.gz *.xz);;All files (*)</translation>
    </message>
</context>
<context>
    <name>TrackMenu</name>
    <message>
        <source>отключить</source>
        <translation>off</translation>
    </message>
</context>
</TS>
