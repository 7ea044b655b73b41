// Paper sizes and the printer status message, one block per language.
// Each paper row: name, "width;height;unit;paper id;" (unit 0 inches,
// otherwise centimetres), paper code.
var sz0x0409 = {
  szPaperSizes : [ "4 x 6 in", "4.0;6.0;0;256;", 0, "5 x 7 in", "5.0;7.0;0;257;", 1, "10 x 15 cm", "10.0;15.0;1;258;", 2, "3.5 x 5 in", "3.5;5.0;0;259;", 3 ],
  szStatusMsg : "There is a problem with your printer.\nCheck your printer screen for more information."
};

var sz0x040C = {
  szPaperSizes : [ "4 x 6 po", "4.0;6.0;0;256;", 0, "5 x 7 po", "5.0;7.0;0;257;", 1, "10 x 15 cm", "10.0;15.0;1;258;", 2, "3,5 x 5 po", "3.5;5.0;0;259;", 3 ],
  szStatusMsg : "Un problème est survenu sur l'imprimante.\nConsultez l'écran de l'imprimante."
};
