/* The shipped program's layout: every section is padded to the file alignment (512 bytes),
   so the few there are, the less padding. Read-only data goes with the code; the small
   initialised data goes with the import tables, which the loader writes anyway; zeroed
   statics take no room in the file. Nothing here needs the C runtime's constructor lists,
   exception tables or debug sections. */
OUTPUT_FORMAT(pei-i386)
SECTIONS
{
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  .text __image_base__ + __section_alignment__ :
  {
    *(.text) *(SORT(.text$*)) *(.text.*)
    *(.rdata) *(SORT(.rdata$*)) *(.rdata.*)
  }
  .idata BLOCK(__section_alignment__) :
  {
    /* The import directory's order is fixed: descriptors, their end, lookup and address
       tables, names. */
    KEEP (SORT(*)(.idata$2))
    KEEP (SORT(*)(.idata$3))
    LONG (0); LONG (0); LONG (0); LONG (0); LONG (0);
    KEEP (SORT(*)(.idata$4))
    __IAT_start__ = .;
    KEEP (SORT(*)(.idata$5))
    __IAT_end__ = .;
    KEEP (SORT(*)(.idata$6))
    KEEP (SORT(*)(.idata$7))
    *(.data) *(SORT(.data$*)) *(.data.*)
  }
  .bss BLOCK(__section_alignment__) :
  {
    *(.bss) *(.bss.*) *(.bss$*) *(COMMON)
  }
  /DISCARD/ :
  {
    *(.debug$S) *(.debug$T) *(.debug$F) *(.drectve) *(.note.GNU-stack) *(.gnu.lto_*)
    *(.eh_frame*) *(.pdata*) *(.ctors*) *(.dtors*) *(.comment)
  }
  .rsrc BLOCK(__section_alignment__) : SUBALIGN(4)
  {
    KEEP (*(.rsrc))
    KEEP (*(.rsrc$*))
  }
  .reloc BLOCK(__section_alignment__) :
  {
    *(.reloc)
  }
}
