" Varkel job scripts: *.vkjob files, and script.txt (the job varkel runs
" when started without arguments) when one of its first lines is a job
" command. Vim's own *.txt rule has already run for script.txt, so the type
" is set outright there rather than with :setfiletype.
autocmd BufNewFile,BufRead *.vkjob,*.VKJOB setfiletype vkjob

function! s:VarkelScriptTxt() abort
  let l:command = '\c^[=(,)]*\%(BEGINLIST\|PRESERVE_DIRECTORY_TREE\|VERBOSE'
        \ . '\|SILENT\|ADDFILE\|ADDDIR\|ADDONLYDIR\|CHDIR\|CHDIR_OUT\|CHDIR_IN'
        \ . '\|PACK\|UNPACK\|COMPRESS\|OPTIMIZE\|PRINT\)\%([=(,)"]\|$\)'
  for l:line in getline(1, 50)
    if l:line =~# l:command
      set filetype=vkjob
      return
    endif
  endfor
endfunction

autocmd BufRead script.txt call s:VarkelScriptTxt()
autocmd BufNewFile script.txt set filetype=vkjob
