#!/usr/bin/env python3
"""Writes archives whose entry names are stored in the code pages of Windows systems
around the world, without the UTF-8 flag, as the archivers of those systems write them.

Usage: names_corpus.py FOLDER [ARCHIVES_PER_LANGUAGE] [SEED]

Every archive is FOLDER/<codepage>_<n>.zip; FOLDER/corpus.tsv lists, one line per
archive, its file name, the code page and the names as they should read, tab-separated.
The names are words of each language, in folders, with ASCII mixed in."""
import random
import struct
import sys
import zlib

WORDS = {
    'ja': ('新しいフォルダー 資料 会議 議事録 報告書 写真 見積書 請求書 契約書 企画書 売上 一覧表 '
           '予定表 名簿 旅行 家族 夏休み 運動会 卒業式 東京 大阪 京都 北海道 プレゼン テキスト '
           'ドキュメント デスクトップ ダウンロード ソフトウェア データ メモ マニュアル 設計図 仕様書 '
           '表紙 目次 第一章 説明書 申込書 履歴書 作業 確認 最新版 修正 ソース 表示 能力 十月 '
           'お知らせ 社内報 年賀状 引っ越し 領収書 参考資料 画像 音楽 動画').split(),
    'zh_cn': ('新建文件夹 文档 报告 会议记录 照片 合同 发票 工作总结 项目计划 财务报表 员工名单 '
              '产品介绍 设计图纸 用户手册 学习资料 考试 复习 作业 课件 论文 简历 通知 北京 上海 '
              '广州 深圳 旅游 家庭 生日 视频 音乐 软件 数据 备份 最终版 修改稿 第一章 目录 说明书 '
              '申请表 年度总结 销售数据 客户资料 图片 截图 安装包 新年快乐').split(),
    'zh_tw': ('新增資料夾 文件 報告 會議記錄 照片 合約 發票 工作總結 專案計畫 財務報表 員工名單 '
              '產品介紹 設計圖 使用手冊 學習資料 考試 複習 作業 簡報 論文 履歷 通知 台北 高雄 香港 '
              '台中 旅遊 家庭 生日 影片 音樂 軟體 資料 備份 最終版 修改 第一章 目錄 說明書 申請表 '
              '許可證 功能說明 年度報告 客戶資料 圖片 安裝程式 新年快樂').split(),
    'ko': ('새 폴더 문서 보고서 회의록 사진 계약서 견적서 청구서 기획안 매출 목록 일정표 명단 여행 '
           '가족 여름휴가 운동회 졸업식 서울 부산 제주도 발표자료 텍스트 바탕화면 다운로드 '
           '소프트웨어 데이터 메모 설명서 설계도 사양서 표지 목차 제1장 신청서 이력서 작업 확인 '
           '최신판 수정본 공지사항 영수증 참고자료 이미지 음악 동영상 똠방각하').split(),
    'ru': ('Новая папка Документы Отчёт Протокол совещания Фотографии Договор Счёт Смета Презентация '
           'Продажи Список Расписание Сотрудники Отпуск Семья Лето Выпускной Москва Петербург '
           'Новосибирск Рабочий стол Загрузки Программы Данные Заметки Инструкция Чертёж '
           'Техническое задание Обложка Оглавление Глава первая Заявление Резюме Работа Проверка '
           'Последняя версия Исправления Бухгалтерия Годовой отчёт Приказ Письмо').split(),
    'uk': ('Звіт Фотографії Документи Київ Львів Нова тека Протокол Рахунок Договір Відпустка '
           'Розклад Співробітники Зображення Музика Програми Інструкція Заява Виправлення').split(),
    'de': ('Größe Übersicht Bestätigung Straßenkarte Rechnung März Geburtstagsfeier Ärzte '
           'Öffnungszeiten Prüfung Gebühren Bücher Schlüssel Führerschein Grüße Küche Tür '
           'Lösung Übung Änderungen Wörterbuch Zeugnis Bewerbung Urlaub München Köln Zürich').split(),
    'fr': ('Réunion Année Été Préférences Numéro Société Façade Noël Crème Brûlée Élève '
           'Reçu Carré Théâtre Hôtel Château Forêt Fenêtre Début Café Résumé Dépenses '
           'Bibliothèque Mémoire Répertoire Données Génial Français').split(),
    'es': ('Año Niños Canción Información Teléfono Cumpleaños Señor Mañana España Diseño '
           'Dirección Reunión Música Fotografía Educación Páginas Último Pequeño Público').split(),
    # Letters code page 437 lacks: the OEM code page of western Europe has them.
    'pt_da': ('Relatório Informações São Paulo Ação Orçamento Lição Negócios Situação Edição '
              'Møde Kø Ærø Blåbær Smørrebrød Søster Sønderborg Ålborg Færøerne Kæreste Øvelse '
              'Ísland Þórður Ýmsir').split(),
}

ASCII = 'backup final v2 2023 2024 IMG_0012 scan copy old new draft notes readme report'.split()
EXTENSIONS = ['.txt', '.docx', '.xlsx', '.pdf', '.jpg', '.png', '.pptx', '.csv', '.zip', '']

# code page -> (Python codec, languages, Windows code page number)
CODE_PAGES = {
    'cp932': ('cp932', ['ja']),
    'cp936': ('gbk', ['zh_cn']),
    'cp950': ('cp950', ['zh_tw']),
    'cp949': ('cp949', ['ko']),
    'cp866': ('cp866', ['ru']),
    'cp1251': ('cp1251', ['ru', 'uk']),
    'cp850': ('cp850', ['pt_da', 'de', 'fr', 'es']),
    'cp1252': ('cp1252', ['de', 'fr', 'es', 'pt_da']),
    'cp437': ('cp437', ['de', 'fr', 'es']),
    'utf-8': ('utf-8', ['ja', 'ru', 'de', 'zh_cn', 'ko']),
}


def words_of(rng, languages, count):
    pool = [w for lang in languages for w in WORDS[lang]]
    return [rng.choice(pool) for _ in range(count)]


def make_names(rng, languages, count, codec):
    """Realistic names: a folder or two, words joined with ASCII, an extension."""
    folders = words_of(rng, languages, 3)
    names, seen = [], set()
    while len(names) < count:
        parts = []
        if rng.random() < 0.6:
            parts.append(rng.choice(folders))
            if rng.random() < 0.3:
                parts.append(rng.choice(folders + ASCII))
        stem = rng.choice(words_of(rng, languages, 4))
        r = rng.random()
        if r < 0.3:
            stem += '_' + rng.choice(ASCII)
        elif r < 0.5:
            stem += ' ' + rng.choice(words_of(rng, languages, 4))
        elif r < 0.6:
            stem = rng.choice(ASCII) + '_' + stem
        elif r < 0.75:
            stem += ' (%d)' % rng.randint(1, 12)
        name = '/'.join(parts + [stem + rng.choice(EXTENSIONS)])
        try:
            name.encode(codec)
        except UnicodeEncodeError:
            continue
        if name not in seen:
            seen.add(name)
            names.append(name)
    return names


def write_archive(path, names, codec, host=0, extras=None):
    """Stored entries named in `codec`, no UTF-8 flag, made by `host` (0: DOS) as
    version 2.0, as the archivers of those systems write them. `extras` gives each
    entry's extra field (central and local alike)."""
    body, central = bytearray(), bytearray()
    for i, name in enumerate(names):
        raw = name.encode(codec) if isinstance(name, str) else name
        extra = extras[i] if extras else b''
        data = ('entry %d\n' % i).encode()
        crc = zlib.crc32(data)
        # 2023-05-17 10:30:00 in DOS form
        time, date = (10 << 11) | (30 << 5), ((2023 - 1980) << 9) | (5 << 5) | 17
        offset = len(body)
        body += struct.pack('<IHHHHHIIIHH', 0x04034B50, 20, 0, 0, time, date, crc, len(data), len(data),
                            len(raw), len(extra)) + raw + extra + data
        central += struct.pack('<IBBHHHHHIIIHHHHHII', 0x02014B50, 20, host, 20, 0, 0, time, date, crc,
                               len(data), len(data), len(raw), len(extra), 0, 0, 0, 0x20, offset)
        central += raw + extra
    count = len(names)
    end = b''
    if count > 0xFFFF:  # a Zip64 end record and its locator carry the count
        end = struct.pack('<IQHHIIQQQQ', 0x06064B50, 44, 45, 45, 0, 0, count, count, len(central), len(body))
        end += struct.pack('<IIQI', 0x07064B50, 0, len(body) + len(central), 1)
        count = 0xFFFF
    end += struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, count, count, len(central), len(body), 0)
    with open(path, 'wb') as f:
        f.write(body + central + end)


def main():
    folder = sys.argv[1]
    per_language = int(sys.argv[2]) if len(sys.argv) > 2 else 6
    rng = random.Random(int(sys.argv[3]) if len(sys.argv) > 3 else 19)
    lines = []
    for cp, (codec, languages) in CODE_PAGES.items():
        for n in range(per_language):
            count = [1, 2, 3, 5, 8, 12][n % 6] if per_language >= 6 else 5 + n
            names = make_names(rng, languages, count, codec)
            file = '%s_%d.zip' % (cp, n)
            write_archive(folder + '/' + file, names, codec)
            lines.append('\t'.join([file, cp] + names))
    with open(folder + '/corpus.tsv', 'w', encoding='utf-8') as f:
        f.write('\n'.join(lines) + '\n')


if __name__ == '__main__':
    main()
