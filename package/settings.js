// Paper sizes, the printer status message and the settings page's labels,
// one block per language, then the page's own script.
// Each paper row: name, "width;height;unit;paper id;" (unit 0 inches,
// otherwise centimetres), paper code. The ids and codes are the same in
// every language, since the devmode carries them; only names and units
// differ.
// The driver reads the blocks as text, not as script: it finds the first
// occurrence of the name of the system's language (else US English), then
// the first szPaperSizes after it, the list up to the first "]" and the
// first szStatusMsg before the block's "};". So the blocks come first, each
// begins with those two keys in that order, and the labels follow them. A
// language that shares a block is declared on the line just before it, so
// that its name, too, is first found right before that block; nothing else
// in this file names a block.
// Labels: szLanguage and szDirection are the page's lang and dir; in the
// button labels "&" marks the access key, as in Windows dialogs.

// English, also of the United Kingdom, Australia, Canada, New Zealand and
// Ireland.
var sz0x0809, sz0x0C09, sz0x1009, sz0x1409, sz0x1809;
var sz0x0409 = {
  szPaperSizes : [ "4 x 6 in", "4.0;6.0;0;256;", 0, "5 x 7 in", "5.0;7.0;0;257;", 1, "10 x 15 cm", "10.0;15.0;1;258;", 2, "3.5 x 5 in", "3.5;5.0;0;259;", 3 ],
  szStatusMsg : "There is a problem with your printer.\nCheck your printer screen for more information.",
  szLanguage : "en",
  szDirection : "ltr",
  szTitle : "Printing Preferences",
  szPaperLegend : "Paper size",
  szMetricUnit : "mm",
  szInchUnit : "in",
  szDecimalMark : ".",
  szSampleButton : "&Print sample page",
  szOkButton : "&OK",
  szCancelButton : "&Cancel"
};
sz0x0809 = sz0x0C09 = sz0x1009 = sz0x1409 = sz0x1809 = sz0x0409;

// French, also of Belgium, Canada, Switzerland, Luxembourg and Monaco.
var sz0x080C, sz0x0C0C, sz0x100C, sz0x140C, sz0x180C;
var sz0x040C = {
  szPaperSizes : [ "4 x 6 po", "4.0;6.0;0;256;", 0, "5 x 7 po", "5.0;7.0;0;257;", 1, "10 x 15 cm", "10.0;15.0;1;258;", 2, "3,5 x 5 po", "3.5;5.0;0;259;", 3 ],
  szStatusMsg : "Un problème est survenu sur l'imprimante.\nConsultez l'écran de l'imprimante.",
  szLanguage : "fr",
  szDirection : "ltr",
  szTitle : "Options d'impression",
  szPaperLegend : "Format du papier",
  szMetricUnit : "mm",
  szInchUnit : "po",
  szDecimalMark : ",",
  szSampleButton : "&Imprimer une page d'essai",
  szOkButton : "&OK",
  szCancelButton : "&Annuler"
};
sz0x080C = sz0x0C0C = sz0x100C = sz0x140C = sz0x180C = sz0x040C;

// German, also of Austria, Switzerland, Luxembourg and Liechtenstein.
var sz0x0C07, sz0x0807, sz0x1007, sz0x1407;
var sz0x0407 = {
  szPaperSizes : [ "4 x 6 Zoll", "4.0;6.0;0;256;", 0, "5 x 7 Zoll", "5.0;7.0;0;257;", 1, "10 x 15 cm", "10.0;15.0;1;258;", 2, "3,5 x 5 Zoll", "3.5;5.0;0;259;", 3 ],
  szStatusMsg : "Am Drucker ist ein Problem aufgetreten.\nWeitere Informationen finden Sie auf dem Display des Druckers.",
  szLanguage : "de",
  szDirection : "ltr",
  szTitle : "Druckeinstellungen",
  szPaperLegend : "Papierformat",
  szMetricUnit : "mm",
  szInchUnit : "Zoll",
  szDecimalMark : ",",
  szSampleButton : "&Testseite drucken",
  szOkButton : "&OK",
  szCancelButton : "&Abbrechen"
};
sz0x0C07 = sz0x0807 = sz0x1007 = sz0x1407 = sz0x0407;

// Spanish of Spain (modern and traditional sort), also of Mexico,
// Argentina, Colombia and Chile.
var sz0x040A, sz0x080A, sz0x2C0A, sz0x240A, sz0x340A;
var sz0x0C0A = {
  szPaperSizes : [ "4 x 6 pulg.", "4.0;6.0;0;256;", 0, "5 x 7 pulg.", "5.0;7.0;0;257;", 1, "10 x 15 cm", "10.0;15.0;1;258;", 2, "3,5 x 5 pulg.", "3.5;5.0;0;259;", 3 ],
  szStatusMsg : "Hay un problema con la impresora.\nConsulte la pantalla de la impresora para obtener más información.",
  szLanguage : "es",
  szDirection : "ltr",
  szTitle : "Preferencias de impresión",
  szPaperLegend : "Tamaño del papel",
  szMetricUnit : "mm",
  szInchUnit : "pulg.",
  szDecimalMark : ",",
  szSampleButton : "&Imprimir página de prueba",
  szOkButton : "&Aceptar",
  szCancelButton : "&Cancelar"
};
sz0x040A = sz0x080A = sz0x2C0A = sz0x240A = sz0x340A = sz0x0C0A;

// Italian, also of Switzerland.
var sz0x0810;
var sz0x0410 = {
  szPaperSizes : [ "4 x 6 poll.", "4.0;6.0;0;256;", 0, "5 x 7 poll.", "5.0;7.0;0;257;", 1, "10 x 15 cm", "10.0;15.0;1;258;", 2, "3,5 x 5 poll.", "3.5;5.0;0;259;", 3 ],
  szStatusMsg : "Si è verificato un problema con la stampante.\nPer ulteriori informazioni, controllare il display della stampante.",
  szLanguage : "it",
  szDirection : "ltr",
  szTitle : "Preferenze stampa",
  szPaperLegend : "Formato carta",
  szMetricUnit : "mm",
  szInchUnit : "poll.",
  szDecimalMark : ",",
  szSampleButton : "&Stampa pagina di prova",
  szOkButton : "&OK",
  szCancelButton : "&Annulla"
};
sz0x0810 = sz0x0410;

// Dutch, also of Belgium.
var sz0x0813;
var sz0x0413 = {
  szPaperSizes : [ "4 x 6 inch", "4.0;6.0;0;256;", 0, "5 x 7 inch", "5.0;7.0;0;257;", 1, "10 x 15 cm", "10.0;15.0;1;258;", 2, "3,5 x 5 inch", "3.5;5.0;0;259;", 3 ],
  szStatusMsg : "Er is een probleem met de printer.\nRaadpleeg het scherm van de printer voor meer informatie.",
  szLanguage : "nl",
  szDirection : "ltr",
  szTitle : "Voorkeursinstellingen voor afdrukken",
  szPaperLegend : "Papierformaat",
  szMetricUnit : "mm",
  szInchUnit : "inch",
  szDecimalMark : ",",
  szSampleButton : "&Testpagina afdrukken",
  szOkButton : "&OK",
  szCancelButton : "&Annuleren"
};
sz0x0813 = sz0x0413;

// Portuguese of Brazil.
var sz0x0416 = {
  szPaperSizes : [ "4 x 6 pol.", "4.0;6.0;0;256;", 0, "5 x 7 pol.", "5.0;7.0;0;257;", 1, "10 x 15 cm", "10.0;15.0;1;258;", 2, "3,5 x 5 pol.", "3.5;5.0;0;259;", 3 ],
  szStatusMsg : "Há um problema com a impressora.\nVerifique a tela da impressora para obter mais informações.",
  szLanguage : "pt-BR",
  szDirection : "ltr",
  szTitle : "Preferências de impressão",
  szPaperLegend : "Tamanho do papel",
  szMetricUnit : "mm",
  szInchUnit : "pol.",
  szDecimalMark : ",",
  szSampleButton : "&Imprimir página de teste",
  szOkButton : "&OK",
  szCancelButton : "&Cancelar"
};

// Japanese: the photo papers by their Japanese names (KG, 2L, L).
var sz0x0411 = {
  szPaperSizes : [ "KG", "4.0;6.0;0;256;", 0, "2L判", "5.0;7.0;0;257;", 1, "10 x 15 cm", "10.0;15.0;1;258;", 2, "L判", "3.5;5.0;0;259;", 3 ],
  szStatusMsg : "プリンターに問題が発生しました。\n詳しくはプリンターの画面を確認してください。",
  szLanguage : "ja",
  szDirection : "ltr",
  szTitle : "印刷設定",
  szPaperLegend : "用紙サイズ",
  szMetricUnit : "mm",
  szInchUnit : "インチ",
  szDecimalMark : ".",
  szSampleButton : "テスト ページの印刷(&T)",
  szOkButton : "OK(&O)",
  szCancelButton : "キャンセル(&C)"
};

// Simplified Chinese, also of Singapore: the photo papers by their
// Chinese names (6, 7 and 5 inch).
var sz0x1004;
var sz0x0804 = {
  szPaperSizes : [ "6寸 (4R)", "4.0;6.0;0;256;", 0, "7寸 (5R)", "5.0;7.0;0;257;", 1, "10 x 15 厘米", "10.0;15.0;1;258;", 2, "5寸 (3R)", "3.5;5.0;0;259;", 3 ],
  szStatusMsg : "打印机出现问题。\n请查看打印机屏幕了解详细信息。",
  szLanguage : "zh-CN",
  szDirection : "ltr",
  szTitle : "打印首选项",
  szPaperLegend : "纸张尺寸",
  szMetricUnit : "毫米",
  szInchUnit : "英寸",
  szDecimalMark : ".",
  szSampleButton : "打印测试页(&T)",
  szOkButton : "确定(&O)",
  szCancelButton : "取消(&C)"
};
sz0x1004 = sz0x0804;

// Arabic of Saudi Arabia, also of Iraq, Egypt, Libya, Algeria, Morocco,
// Tunisia, Oman, Yemen, Syria, Jordan, Lebanon, Kuwait, the United Arab
// Emirates, Bahrain and Qatar; written right to left.
var sz0x0801, sz0x0C01, sz0x1001, sz0x1401, sz0x1801, sz0x1C01, sz0x2001, sz0x2401, sz0x2801, sz0x2C01, sz0x3001, sz0x3401, sz0x3801, sz0x3C01, sz0x4001;
var sz0x0401 = {
  szPaperSizes : [ "4 × 6 بوصة", "4.0;6.0;0;256;", 0, "5 × 7 بوصة", "5.0;7.0;0;257;", 1, "10 × 15 سم", "10.0;15.0;1;258;", 2, "3.5 × 5 بوصة", "3.5;5.0;0;259;", 3 ],
  szStatusMsg : "حدثت مشكلة في الطابعة.\nراجع شاشة الطابعة لمزيد من المعلومات.",
  szLanguage : "ar",
  szDirection : "rtl",
  szTitle : "تفضيلات الطباعة",
  szPaperLegend : "حجم الورق",
  szMetricUnit : "مم",
  szInchUnit : "بوصة",
  szDecimalMark : ".",
  szSampleButton : "&طباعة صفحة اختبار",
  szOkButton : "&موافق",
  szCancelButton : "إ&لغاء الأمر"
};
sz0x0801 = sz0x0C01 = sz0x1001 = sz0x1401 = sz0x1801 = sz0x1C01 = sz0x2001 = sz0x2401 = sz0x2801 = sz0x2C01 = sz0x3001 = sz0x3401 = sz0x3801 = sz0x3C01 = sz0x4001 = sz0x0401;

// The page runs in MSHTML's modal dialog (IE document mode "edge") and in a
// current browser, so it is plain ES5 and feature-tests what differs.
var larkSettings = (function () {
  var defaults = {
    szLanguage: "en",
    szDirection: "ltr",
    szTitle: "Printing Preferences",
    szPaperLegend: "Paper size",
    szMetricUnit: "mm",
    szInchUnit: "in",
    szDecimalMark: ".",
    szSampleButton: "&Print sample page",
    szOkButton: "&OK",
    szCancelButton: "&Cancel"
  };
  // The driver's slots: 256 rows, names of 63 and sizes of 31 characters.
  var maxRows = 256;
  var maxNameUnits = 63;
  var maxSpecUnits = 31;
  // The devmode's Settings holds 511 characters; the driver refuses a
  // longer answer whole, which would leave the settings as they were.
  var maxAnswerUnits = 511;
  // The width of the whole layout with its margins, which the page asks
  // MSHTML's dialog for.
  var dialogWidthEm = 38;

  // Language tags as the browsers report them, to the Windows language
  // identifiers of the block names. A bare language stands for its primary
  // country, as Windows maps it.
  var languageIds = {
    "en-us": 0x0409, "en-gb": 0x0809, "en-au": 0x0C09, "en-ca": 0x1009, "en-nz": 0x1409,
    "en-ie": 0x1809,
    "fr-fr": 0x040C, "fr-be": 0x080C, "fr-ca": 0x0C0C, "fr-ch": 0x100C, "fr-lu": 0x140C,
    "fr-mc": 0x180C,
    "de-de": 0x0407, "de-ch": 0x0807, "de-at": 0x0C07, "de-lu": 0x1007, "de-li": 0x1407,
    "it-it": 0x0410, "it-ch": 0x0810,
    "es-es": 0x0C0A, "es-mx": 0x080A, "es-ar": 0x2C0A, "es-co": 0x240A, "es-cl": 0x340A,
    // Spanish of the traditional sort, as MSHTML and as BCP 47 name it.
    "es-es-tradnl": 0x040A, "es-es-u-co-trad": 0x040A,
    "nl-nl": 0x0413, "nl-be": 0x0813,
    "pt-br": 0x0416, "pt-pt": 0x0816,
    "ja-jp": 0x0411, "zh-cn": 0x0804, "zh-sg": 0x1004, "zh-tw": 0x0404, "zh-hk": 0x0C04,
    "ar-sa": 0x0401, "ar-iq": 0x0801, "ar-eg": 0x0C01, "ar-ly": 0x1001, "ar-dz": 0x1401,
    "ar-ma": 0x1801, "ar-tn": 0x1C01, "ar-om": 0x2001, "ar-ye": 0x2401, "ar-sy": 0x2801,
    "ar-jo": 0x2C01, "ar-lb": 0x3001, "ar-kw": 0x3401, "ar-ae": 0x3801, "ar-bh": 0x3C01,
    "ar-qa": 0x4001,
    "da-dk": 0x0406, "sv-se": 0x041D, "nb-no": 0x0414, "fi-fi": 0x040B, "pl-pl": 0x0415,
    "cs-cz": 0x0405, "hu-hu": 0x040E, "el-gr": 0x0408, "tr-tr": 0x041F, "ru-ru": 0x0419,
    "ko-kr": 0x0412,
    "en": 0x0409, "fr": 0x040C, "de": 0x0407, "it": 0x0410, "es": 0x0C0A, "nl": 0x0413,
    "pt": 0x0416, "ja": 0x0411, "zh": 0x0804, "ar": 0x0401,
    "da": 0x0406, "sv": 0x041D, "nb": 0x0414, "no": 0x0414, "fi": 0x040B, "pl": 0x0415,
    "cs": 0x0405, "hu": 0x040E, "el": 0x0408, "tr": 0x041F, "ru": 0x0419, "ko": 0x0412
  };

  function languageId(tag) {
    var t = String(tag || "").toLowerCase().replace(/_/g, "-");
    if (languageIds.hasOwnProperty(t)) return languageIds[t];
    var parts = t.split("-");
    if (parts.length > 1 && languageIds.hasOwnProperty(parts[0] + "-" + parts[parts.length - 1])) {
      return languageIds[parts[0] + "-" + parts[parts.length - 1]];
    }
    return languageIds.hasOwnProperty(parts[0]) ? languageIds[parts[0]] : 0x0409;
  }

  // The driver takes the language of the system (GetSystemDefaultLangID);
  // MSHTML tells it as navigator.systemLanguage, other browsers only know
  // the language of their user interface.
  function systemLanguageId() {
    var n = window.navigator;
    return languageId(n.systemLanguage || n.language || n.userLanguage || n.browserLanguage);
  }

  function blockName(id) {
    var hex = id.toString(16).toUpperCase();
    while (hex.length < 4) hex = "0" + hex;
    return "sz0x" + hex;
  }

  // The block of the language, else the US English one, as the driver
  // chooses.
  function languageBlock(id) {
    var block = window[blockName(id)];
    if (!block || typeof block !== "object") block = window[blockName(0x0409)];
    return block && typeof block === "object" ? block : {};
  }

  function label(block, key) {
    return typeof block[key] === "string" && block[key] !== "" ? block[key] : defaults[key];
  }

  // "&" marks the access key in a label, as in a dialog's resources; "&&"
  // is an ampersand. at is where its letter stands in the shown text, -1
  // for none.
  function accessLabel(text) {
    var shown = "";
    var letter = "";
    var at = -1;
    for (var i = 0; i < text.length; ++i) {
      var c = text.charAt(i);
      if (c === "&" && i + 1 < text.length) {
        c = text.charAt(++i);
        if (c !== "&" && at < 0) {
          at = shown.length;
          letter = c;
        }
      }
      shown += c;
    }
    return { text: shown, letter: letter, at: at };
  }

  // "%d": white space, a sign, digits; wraps to 32 bits as the driver's
  // conversion does. null when no number is there.
  function scanInt(text) {
    var m = /^\s*([+\-]?)(\d+)/.exec(text);
    if (!m) return null;
    var magnitude = 0;
    for (var i = 0; i < m[2].length; ++i) {
      magnitude = (magnitude * 10 + (m[2].charCodeAt(i) - 48)) % 4294967296;
    }
    return { value: (m[1] === "-" ? -magnitude : magnitude) | 0, length: m[0].length };
  }

  // "%f" of a decimal number, in single precision.
  function scanFloat(text) {
    var m = /^\s*[+\-]?(\d+\.?\d*|\.\d+)([eE][+\-]?\d+)?/.exec(text);
    return m ? { value: toSingle(parseFloat(m[0])), length: m[0].length } : null;
  }

  var single = typeof Float32Array !== "undefined" ? new Float32Array(1) : null;
  function toSingle(x) {
    if (!single) return x;
    single[0] = x;
    return single[0];
  }

  // Tenths of a millimetre as the driver hands them out: the product in
  // single precision, truncated, its low 16 bits as a signed number.
  function tenthsOfMm(value, inches) {
    var product = toSingle(value * (inches ? 254 : 100));
    if (!isFinite(product) || Math.abs(product) >= 9.2e18) return 0;
    var whole = product < 0 ? Math.ceil(product) : Math.floor(product);
    var low = ((whole % 65536) + 65536) % 65536;
    return low >= 32768 ? low - 65536 : low;
  }

  // "width;height;unit;paper id;" read from its first digit when that lies
  // among the first 20 characters; every field that does not convert keeps
  // its default, and so do the ones after it.
  function paperSize(spec, index) {
    var width = 4, height = 6, unit = 0, id = 256 + index;
    var at = 0;
    while (at < 20 && at < spec.length && !/\d/.test(spec.charAt(at))) ++at;
    if (at < 20 && /\d/.test(spec.charAt(at))) {
      var rest = spec.substring(at);
      var field = function (scan) {
        var r = scan(rest);
        if (r) rest = rest.substring(r.length);
        return r;
      };
      var semicolon = function () {
        if (rest.charAt(0) !== ";") return false;
        rest = rest.substring(1);
        return true;
      };
      var w = field(scanFloat);
      if (w) width = w.value;
      if (w && semicolon()) {
        var h = field(scanFloat);
        if (h) height = h.value;
        if (h && semicolon()) {
          var u = field(scanInt);
          if (u) unit = u.value;
          if (u && semicolon()) {
            var p = field(scanInt);
            if (p) id = p.value;
          }
        }
      }
    }
    return {
      width: tenthsOfMm(width, unit === 0),
      height: tenthsOfMm(height, unit === 0),
      id: ((id % 65536) + 65536) % 65536
    };
  }

  function paperRows(block) {
    var list = block.szPaperSizes;
    var rows = [];
    if (list && typeof list.length === "number") {
      for (var i = 0; i + 1 < list.length && rows.length < maxRows; i += 3) {
        var name = String(list[i]);
        if (name === "") break;
        var code = list[i + 2];
        if (typeof code !== "number") {
          var scanned = scanInt(String(code));
          code = scanned ? scanned.value : 0;
        }
        var size = paperSize(String(list[i + 1]).substring(0, maxSpecUnits), rows.length);
        rows.push({
          name: name.substring(0, maxNameUnits),
          code: code | 0,
          id: size.id,
          width: size.width,
          height: size.height
        });
      }
    }
    if (rows.length === 0) rows.push({ name: "Automatic", code: 0, id: 256, width: 1016, height: 1524 });
    return rows;
  }

  // The settings string's items, each "key=value" without its ";". A text
  // without a key and "=" is no item and is dropped, so that the answer is
  // well formed whatever came in; a last item without its ";" counts.
  function settingsItems(settings) {
    var pieces = typeof settings === "string" ? settings.split(";") : [];
    var items = [];
    for (var i = 0; i < pieces.length; ++i) {
      if (pieces[i].indexOf("=") > 0) items.push(pieces[i]);
    }
    return items;
  }

  function itemKey(item) {
    var equals = item.indexOf("=");
    return equals < 0 ? null : item.substring(0, equals);
  }

  function settingNumber(items, key) {
    for (var i = 0; i < items.length; ++i) {
      if (itemKey(items[i]) === key) {
        var n = scanInt(items[i].substring(key.length + 1));
        return n ? n.value : null;
      }
    }
    return null;
  }

  // The paper of key 1000, else the paper size of key 9900, else the first.
  function currentRow(rows, items) {
    var code = settingNumber(items, "1000");
    var id = settingNumber(items, "9900");
    var i;
    if (code !== null) {
      for (i = 0; i < rows.length; ++i) if (rows[i].code === code) return i;
    }
    if (id !== null) {
      for (i = 0; i < rows.length; ++i) if (rows[i].id === (id & 0xFFFF)) return i;
    }
    return 0;
  }

  // The paper item first, since the driver takes the first item for it, and
  // the paper size right after, since it reads the first "9900" it finds;
  // the other items follow as they came, whole, for as long as they fit
  // the devmode: the first that does not fit ends the answer, since a cut
  // item would be another setting.
  function answerFor(settings, row) {
    var items = settingsItems(settings);
    var answer = "1000=" + row.code + ";9900=" + row.id + ";";
    for (var i = 0; i < items.length; ++i) {
      var key = itemKey(items[i]);
      if (key === "1000" || key === "9900") continue;
      if (answer.length + items[i].length + 1 > maxAnswerUnits) break;
      answer += items[i] + ";";
    }
    return answer;
  }

  // The exchange with the dialog: the settings string in, one answer out.
  function dialogSettings() {
    var argument = window.dialogArguments;
    return typeof argument === "string" ? argument : "";
  }

  function finish(answer) {
    if (answer !== null) window.returnValue = answer;
    window.close();
  }

  function listen(element, type, handler) {
    if (element.addEventListener) {
      element.addEventListener(type, handler, false);
    } else if (element.attachEvent) {
      element.attachEvent("on" + type, function () { return handler(window.event); });
    }
  }

  function setText(element, text) {
    while (element.firstChild) element.removeChild(element.firstChild);
    element.appendChild(document.createTextNode(text));
  }

  function element(tag, className, text) {
    var e = document.createElement(tag);
    if (className) e.className = className;
    if (text) e.appendChild(document.createTextNode(text));
    return e;
  }

  // A button's label with its access key underlined, as Windows shows it.
  function setAccessLabel(button, text) {
    var a = accessLabel(text);
    setText(button, a.text.substring(0, a.at < 0 ? a.text.length : a.at));
    if (a.at < 0) return;
    button.appendChild(element("u", "", a.letter));
    button.appendChild(document.createTextNode(a.text.substring(a.at + 1)));
    button.setAttribute("accesskey", a.letter);
  }

  // The language's decimal mark in the numbers, not in the unit ("pol.").
  function sizeText(first, second, decimals, unit, mark) {
    var number = function (value) {
      return value.toFixed(decimals).replace(".", mark);
    };
    return number(first) + " \u00D7 " + number(second) + " " + unit;
  }

  function sizeTexts(row, block) {
    var mark = label(block, "szDecimalMark");
    return {
      metric: sizeText(row.width / 10, row.height / 10, 1, label(block, "szMetricUnit"), mark),
      inch: sizeText(row.width / 254, row.height / 254, 2, label(block, "szInchUnit"), mark)
    };
  }

  // One row per paper: the radio with the paper's name, then its size in
  // millimetres and in inches, which the radio is described by.
  function showRows(container, rows, current, block) {
    for (var i = 0; i < rows.length; ++i) {
      var texts = sizeTexts(rows[i], block);
      var row = element("div", "paper");
      var pick = element("span", "pick");
      var radio = document.createElement("input");
      radio.type = "radio";
      radio.name = "paper";
      radio.id = "paper" + i;
      radio.value = String(i);
      radio.setAttribute("aria-describedby", "paper" + i + "-mm paper" + i + "-in");
      var name = element("label", "name", rows[i].name);
      name.htmlFor = radio.id;
      pick.appendChild(radio);
      pick.appendChild(name);
      var size = element("span", "size");
      var metric = element("span", "", texts.metric);
      metric.id = "paper" + i + "-mm";
      var inch = element("span", "", texts.inch);
      inch.id = "paper" + i + "-in";
      size.appendChild(metric);
      size.appendChild(inch);
      row.appendChild(pick);
      row.appendChild(size);
      container.appendChild(row);
      radio.checked = i === current;
    }
  }

  // The papers to scale, all from one corner: the chosen one white with its
  // size on it, the others' outlines over it for comparison. Plain boxes,
  // since MSHTML's document modes draw them alike; the list says the same,
  // so the picture is hidden from assistive technology.
  function showPicture(container, rows, block) {
    var widest = 1, tallest = 1, i;
    for (i = 0; i < rows.length; ++i) {
      widest = Math.max(widest, Math.abs(rows[i].width));
      tallest = Math.max(tallest, Math.abs(rows[i].height));
    }
    // A very tall table is drawn narrower, so that the picture stays short.
    var aspect = tallest / widest;
    var frameWidth = aspect > 1.6 ? 160 / aspect : 100;
    var sized = element("div", "frame-width");
    var frame = element("div", "frame");
    frame.style.width = frameWidth + "%";
    frame.style.paddingBottom = frameWidth * aspect + "%";
    var percent = function (part, whole) {
      return Math.max(1, Math.abs(part) / whole * 100) + "%";
    };
    var sheets = [];
    for (i = 0; i < rows.length; ++i) {
      var sheet = element("div", "sheet");
      sheet.style.width = percent(rows[i].width, widest);
      sheet.style.height = percent(rows[i].height, tallest);
      frame.appendChild(sheet);
      sheets.push(sheet);
    }
    var caption = element("div", "caption");
    var captionText = element("span", "cell");
    caption.appendChild(captionText);
    frame.appendChild(caption);
    sized.appendChild(frame);
    container.appendChild(sized);
    return function (chosen) {
      for (var j = 0; j < sheets.length; ++j) {
        sheets[j].className = j === chosen ? "sheet chosen" : "sheet";
      }
      caption.style.width = sheets[chosen].style.width;
      caption.style.height = sheets[chosen].style.height;
      var texts = sizeTexts(rows[chosen], block);
      while (captionText.firstChild) captionText.removeChild(captionText.firstChild);
      captionLine(captionText, texts.metric);
      captionText.appendChild(document.createElement("br"));
      captionLine(captionText, texts.inch);
    };
  }

  // A size on the picture breaks, if it must, only after its "×", so that
  // no number is parted from its unit.
  function captionLine(container, text) {
    var at = text.indexOf("\u00D7");
    if (at < 0) {
      container.appendChild(element("span", "part", text));
      return;
    }
    container.appendChild(element("span", "part", text.substring(0, at + 1)));
    container.appendChild(document.createTextNode(" "));
    container.appendChild(element("span", "part", text.substring(at + 2)));
  }

  function chosenIndex(rows) {
    for (var i = 0; i < rows.length; ++i) {
      var radio = document.getElementById("paper" + i);
      if (radio && radio.checked) return i;
    }
    return 0;
  }

  // MSHTML lets a dialog's page size its window (the content area, since
  // Internet Explorer 7); other browsers have no such properties. The page
  // asks for the width of its whole layout, then for the height that its
  // content takes at that width.
  function fitDialog() {
    if (typeof window.dialogWidth !== "string" || typeof window.dialogHeight !== "string") return;
    var body = document.body;
    var probe = element("div", "");
    probe.style.position = "absolute";
    probe.style.visibility = "hidden";
    probe.style.width = dialogWidthEm + "em";
    body.appendChild(probe);
    var width = probe.offsetWidth;
    body.removeChild(probe);
    window.dialogWidth = Math.ceil(width) + "px";
    window.dialogHeight = Math.ceil(document.getElementById("page").offsetHeight) + "px";
  }

  function start() {
    var block = languageBlock(systemLanguageId());
    var rows = paperRows(block);
    var settings = dialogSettings();
    var root = document.documentElement;
    root.setAttribute("lang", label(block, "szLanguage"));
    root.setAttribute("dir", label(block, "szDirection") === "rtl" ? "rtl" : "ltr");
    setText(document.getElementById("szTitle"), label(block, "szTitle"));
    setText(document.getElementById("szPaperLegend"), label(block, "szPaperLegend"));
    var buttons = ["szOkButton", "szCancelButton", "szSampleButton"];
    for (var i = 0; i < buttons.length; ++i) {
      setAccessLabel(document.getElementById(buttons[i]), label(block, buttons[i]));
    }
    document.title = label(block, "szTitle");
    var current = currentRow(rows, settingsItems(settings));
    var papers = document.getElementById("papers");
    showRows(papers, rows, current, block);
    var showChosen = showPicture(document.getElementById("picture"), rows, block);
    showChosen(current);
    // The picture follows the choice, by mouse on any part of a row and by
    // the arrow keys. MSHTML reports a radio's change only when it loses
    // the focus, so clicks and keys are heard too.
    var follow = function (e) {
      var target = e.target || e.srcElement;
      while (target && target !== papers && target.className !== "paper") target = target.parentNode;
      if (target && target.className === "paper" && e.type === "click") {
        target.getElementsByTagName("input")[0].checked = true;
      }
      showChosen(chosenIndex(rows));
      return true;
    };
    listen(papers, "click", follow);
    listen(papers, "change", follow);
    listen(papers, "keyup", follow);

    var ok = function () { finish(answerFor(settings, rows[chosenIndex(rows)])); };
    var cancel = function () { finish(null); };
    listen(document.getElementById("szOkButton"), "click", ok);
    listen(document.getElementById("szCancelButton"), "click", cancel);
    listen(document.getElementById("szSampleButton"), "click", function () {
      finish("PrintSamplePage");
    });
    // Enter is OK anywhere but on a button, which answers for itself; the
    // buttons come after the list in the tab order, OK first, so that Tab
    // and Enter from the list is OK, never a sample page. Key codes, not
    // key names: MSHTML names Escape "Esc".
    listen(document, "keydown", function (e) {
      var target = e.target || e.srcElement;
      if (e.altKey || e.ctrlKey) return true;
      if (e.keyCode === 27) {
        cancel();
      } else if (e.keyCode === 13 && !(target && target.tagName === "BUTTON")) {
        ok();
      } else {
        return true;
      }
      if (e.preventDefault) e.preventDefault();
      e.returnValue = false;
      return false;
    });
    fitDialog();
    document.getElementById("paper" + current).focus();
  }

  if (typeof window !== "undefined" && window.document) listen(window, "load", start);

  return {
    languageId: languageId,
    blockName: blockName,
    paperRows: paperRows,
    answerFor: answerFor,
    accessLabel: accessLabel
  };
})();
