# driver_file.cpp once per format of the image-file library: the program's
# name (its seeds are in corpus/<name>/), the name the input is read under
# (the extension the driver expects, none for Cineon) and the format. One
# driver serves "sgirgb" and "sgisgi".
set(formats
  alias      input.als   alias
  art24      input.r     art24
  cineon     input       cin
  gif        input.gif   gif
  jpeg       input.jpg   jpeg
  pixar      input.pxr   pixar
  rla        input.rla   rla
  sgi        input.sgi   sgisgi
  softimage  input.pic   softimage
  sun        input.ras   sun
  symbolics  input.dump  symbolics
  targa      input.tga   targa2
  tiff       input.tif   tiff
  vertigo    input.pic   vertigo)
while(formats)
  list(POP_FRONT formats program input format)
  q4_fuzz_program(${program} DEFINITIONS FUZZ_INPUT_NAME="${input}" FUZZ_FORMAT="${format}")
endwhile()
