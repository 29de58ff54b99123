" Vim syntax file
" Language:    Varkel job script (*.vkjob, script.txt)
"
" A line is a command only when its first word is a keyword followed directly
" by "=", "(", ",", ")", a double quote or the end of the line. Every other
" line does nothing when the job runs: such lines are shown as comments, and
" so is a misspelt keyword or one followed by a blank ("PACK =x.dat").

if exists('b:current_syntax')
  finish
endif

let s:cpo_save = &cpo
set cpo&vim

" Lines that are not commands. Defined first, so a command line, which starts
" at the same column, takes precedence.
syntax match vkjobComment /^.*$/ contains=vkjobTodo,@Spell
syntax keyword vkjobTodo contained TODO FIXME XXX

" Keywords and values are read with letter case ignored.
syntax case ignore

syntax match vkjobCommand
      \ /^[=(,)]*\%(BEGINLIST\|PRESERVE_DIRECTORY_TREE\|ATTRIBUTES\|VERBOSE\|SILENT\|ADDFILE\|ADDDIR\|ADDONLYDIR\|CHDIR\|CHDIR_OUT\|CHDIR_IN\|PACK\|UNPACK\|COMPRESS\|OPTIMIZE\|PRINT\|EXCLUDE\)\%([=(,)"].*\)\=$/
      \ contains=vkjobKeyword,vkjobDelimiter,vkjobString,vkjobValue

" Commands that change settings, and commands that act.
syntax match vkjobKeyword contained
      \ /^[=(,)]*\zs\%(BEGINLIST\|PRESERVE_DIRECTORY_TREE\|ATTRIBUTES\|VERBOSE\|SILENT\|ADDFILE\|ADDDIR\|ADDONLYDIR\|CHDIR\|CHDIR_OUT\|CHDIR_IN\|PACK\|UNPACK\|COMPRESS\|OPTIMIZE\|PRINT\|EXCLUDE\)\ze\%([=(,)"]\|$\)/

" Separators end a word; a blank does not.
syntax match vkjobDelimiter contained /[=(,)]/

" ON, OFF and SIZE count only as a whole word: " ON" is another word.
syntax match vkjobValue contained
      \ /\%([=(,)]\)\@1<=\%(ON\|OFF\|SIZE\)\ze\%([=(,)]\|$\)/

" A double quote opens a run in which separators are ordinary characters;
" an unclosed run ends with the line.
syntax region vkjobString contained start=/"/ end=/"/ end=/$/ oneline

highlight default link vkjobComment   Comment
highlight default link vkjobTodo      Todo
highlight default link vkjobKeyword   Statement
highlight default link vkjobDelimiter Delimiter
highlight default link vkjobValue     Constant
highlight default link vkjobString    String

let b:current_syntax = 'vkjob'

let &cpo = s:cpo_save
unlet s:cpo_save
